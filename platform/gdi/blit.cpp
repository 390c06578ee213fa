// Copies between bitmaps and windows: BitBlt, StretchBlt, compatible
// bitmaps, and fills and reads on memory DCs.
//
// Every frame the program composes is made of these copies, so the copy loops
// are written for speed: whole rows at a time, colour matching through
// tables worked out once per pair of colour tables, no allocation once the
// scratch rows have grown to the largest size asked for.
#include <algorithm>
#include <array>
#include <cstring>

#include "gdi/gdi_internal.h"
#include "session/layer_internal.h"

namespace layer {

uint64_t NewTableVersion() {
    // Never reset, not even by ResetGdi: a number that came back could make a
    // stale colour translation look current.
    static uint64_t next = 0;
    return ++next;
}

int NearestIndex(const RGBQUAD *table, size_t count, BYTE r, BYTE g, BYTE b) {
    int best = 0;
    uint32_t bestDistance = 0xFFFFFFFFu;
    for (size_t i = 0; i < count; ++i) {
        int dr = (int)r - table[i].rgbRed, dg = (int)g - table[i].rgbGreen, db = (int)b - table[i].rgbBlue;
        uint32_t distance = (uint32_t)(dr * dr + dg * dg + db * db);
        if (distance == 0) return (int)i;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = (int)i;
        }
    }
    return best;
}

namespace {

// What a raster operation does with the two pixels. Only the operations the
// program uses, and the two that need no source.
enum class Op { Copy, And, Or, Black, White };

bool OpFromRop(DWORD rop, Op *op) {
    switch (rop) {
    case SRCCOPY: *op = Op::Copy; return true;
    case SRCAND: *op = Op::And; return true;
    case SRCPAINT: *op = Op::Or; return true;
    case BLACKNESS: *op = Op::Black; return true;
    case WHITENESS: *op = Op::White; return true;
    }
    return false;
}

// The pixels a DC draws on, whatever holds them, addressed from the top row
// down: a bottom-up DIB has a negative pitch.
struct Plane {
    uint8_t *top = nullptr;
    ptrdiff_t pitch = 0;
    int width = 0;
    int height = 0;
    int bpp = 0;
    bool window = false;
    BitmapObject *bitmap = nullptr;
    uint8_t *Row(int y) const { return top + pitch * (ptrdiff_t)y; }
};

bool PlaneOf(DeviceContext *dc, Plane *plane) {
    if (dc->memory) {
        BitmapObject *bitmap = BitmapFromHandle(dc->bitmap);
        if (!bitmap || bitmap->bits.empty()) return false;
        plane->width = bitmap->width;
        plane->height = bitmap->height;
        plane->bpp = bitmap->bitsPixel;
        plane->bitmap = bitmap;
        ptrdiff_t stride = (ptrdiff_t)bitmap->stride;
        if (bitmap->topDown || !bitmap->dib) {
            plane->top = bitmap->bits.data();
            plane->pitch = stride;
        } else {
            plane->top = bitmap->bits.data() + stride * (bitmap->height - 1);
            plane->pitch = -stride;
        }
        return true;
    }
    Surface surface;
    if (!DcSurface(dc, &surface)) return false;
    plane->top = reinterpret_cast<uint8_t *>(surface.pixels);
    plane->pitch = (ptrdiff_t)surface.width * 4;
    plane->width = surface.width;
    plane->height = surface.height;
    plane->bpp = 32;
    plane->window = true;
    return true;
}

// Rows in the middle of a copy: one for a converted source row, one for a
// stretched row, one for the stretch's column map. They only grow.
std::vector<uint8_t> &ScratchBytes(int which) {
    static std::array<std::vector<uint8_t>, 3> scratch;
    return scratch[(size_t)which];
}
template <typename T>
T *Scratch(int which, size_t count) {
    std::vector<uint8_t> &v = ScratchBytes(which);
    if (v.size() < count * sizeof(T)) v.resize(count * sizeof(T));
    return reinterpret_cast<T *>(v.data());
}

// ---- colour translation between two tables -------------------------------

struct Translation {
    uint64_t from = 0;
    uint64_t to = 0;
    bool identity = false;
    uint8_t map[256];
};

// The program copies between a handful of tables (its pictures, the sprite's,
// the mask's); a few slots keep every pair it uses, so a frame never matches
// colours again.
const Translation &TranslationFor(const BitmapObject &src, const BitmapObject &dst) {
    static std::array<Translation, 16> slots;
    static size_t nextSlot = 0;
    for (const Translation &t : slots)
        if (t.from == src.tableVersion && t.to == dst.tableVersion && t.from) return t;
    Translation &t = slots[nextSlot];
    nextSlot = (nextSlot + 1) % slots.size();
    t.from = src.tableVersion;
    t.to = dst.tableVersion;
    size_t n = std::min<size_t>(src.colorTable.size(), 256);
    // Equal tables copy indices as they are, as the system does; matching
    // would move an index onto an earlier duplicate of its colour.
    t.identity = src.tableVersion == dst.tableVersion ||
                 (src.colorTable.size() == dst.colorTable.size() &&
                  std::memcmp(src.colorTable.data(), dst.colorTable.data(), n * sizeof(RGBQUAD)) == 0);
    for (size_t i = 0; i < 256; ++i) {
        if (t.identity || i >= n) {
            t.map[i] = (uint8_t)i;
            continue;
        }
        const RGBQUAD &c = src.colorTable[i];
        t.map[i] = (uint8_t)NearestIndex(dst.colorTable.data(), dst.colorTable.size(), c.rgbRed, c.rgbGreen, c.rgbBlue);
    }
    return t;
}

void PixelTable(const BitmapObject &src, uint32_t lut[256]) {
    size_t n = std::min<size_t>(src.colorTable.size(), 256);
    for (size_t i = 0; i < 256; ++i) {
        if (i >= n) {
            lut[i] = 0;
            continue;
        }
        const RGBQUAD &c = src.colorTable[i];
        lut[i] = ((uint32_t)c.rgbRed << 16) | ((uint32_t)c.rgbGreen << 8) | c.rgbBlue;
    }
}

// ---- row kernels -------------------------------------------------------------

// AND and OR act bytewise, so one loop serves 8-bit indices and 32-bit
// pixels; sixteen bytes a step, then eight, then one.
typedef uint8_t Bytes16 __attribute__((vector_size(16)));

template <bool IsAnd>
inline void CombineBytes(uint8_t *__restrict d, const uint8_t *__restrict s, size_t n) {
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        Bytes16 a, b;
        std::memcpy(&a, d + i, 16);
        std::memcpy(&b, s + i, 16);
        a = IsAnd ? (a & b) : (a | b);
        std::memcpy(d + i, &a, 16);
    }
    for (; i + 8 <= n; i += 8) {
        uint64_t a, b;
        std::memcpy(&a, d + i, 8);
        std::memcpy(&b, s + i, 8);
        a = IsAnd ? (a & b) : (a | b);
        std::memcpy(d + i, &a, 8);
    }
    for (; i < n; ++i) d[i] = IsAnd ? (uint8_t)(d[i] & s[i]) : (uint8_t)(d[i] | s[i]);
}

inline void ApplyBytes(uint8_t *d, const uint8_t *s, size_t n, Op op) {
    switch (op) {
    case Op::Copy: std::memcpy(d, s, n); break;
    case Op::And: CombineBytes<true>(d, s, n); break;
    case Op::Or: CombineBytes<false>(d, s, n); break;
    default: break;
    }
}

inline void MapRow(uint8_t *__restrict d, const uint8_t *__restrict s, int n, const uint8_t *__restrict map) {
    for (int i = 0; i < n; ++i) d[i] = map[s[i]];
}


// Nearest index for 32-bit pixels; runs of one colour are common, so the
// last answer is kept.
struct Quantizer {
    const RGBQUAD *table;
    size_t count;
    uint32_t lastPixel = 0xFFFFFFFFu;
    uint8_t lastIndex = 0;
    uint8_t operator()(uint32_t p) {
        p &= 0x00FFFFFF;
        if (p != lastPixel) {
            lastPixel = p;
            lastIndex = (uint8_t)NearestIndex(table, count, (BYTE)(p >> 16), (BYTE)(p >> 8), (BYTE)p);
        }
        return lastIndex;
    }
};

// A window's surface keeps the top byte clear; a 32-bit DIB keeps what it is given.
uint32_t PixelMask(const Plane &dst) { return dst.window ? 0x00FFFFFFu : 0xFFFFFFFFu; }

void FillPlane(const Plane &dst, const RECT &r, Op op) {
    int n = r.right - r.left;
    for (LONG y = r.top; y < r.bottom; ++y) {
        uint8_t *row = dst.Row(y);
        if (dst.bpp == 8) {
            std::memset(row + r.left, op == Op::White ? 0xFF : 0, (size_t)n);
        } else {
            uint32_t v = op == Op::White ? PixelMask(dst) : 0;
            uint32_t *p = reinterpret_cast<uint32_t *>(row) + r.left;
            std::fill(p, p + n, v);
        }
    }
}

// Copies the source rectangle at (sx, sy) onto `r` of the destination.
// Both planes are 8 or 32 bits per pixel.
void CopyRect(const Plane &dst, const RECT &r, const Plane &src, int sx, int sy, Op op) {
    const int n = r.right - r.left;
    const int rows = r.bottom - r.top;
    if (dst.bpp == 8 && src.bpp == 8) {
        const Translation &t = TranslationFor(*src.bitmap, *dst.bitmap);
        uint8_t *tmp = (t.identity || op == Op::Copy) ? nullptr : Scratch<uint8_t>(0, (size_t)n);
        for (int y = 0; y < rows; ++y) {
            uint8_t *d = dst.Row(r.top + y) + r.left;
            const uint8_t *s = src.Row(sy + y) + sx;
            if (t.identity) {
                ApplyBytes(d, s, (size_t)n, op);
            } else if (op == Op::Copy) {
                MapRow(d, s, n, t.map);
            } else {
                MapRow(tmp, s, n, t.map);
                ApplyBytes(d, tmp, (size_t)n, op);
            }
        }
    } else if (dst.bpp == 32 && src.bpp == 8) {
        uint32_t lut[256];
        PixelTable(*src.bitmap, lut);
        uint32_t *tmp = op == Op::Copy ? nullptr : Scratch<uint32_t>(0, (size_t)n);
        for (int y = 0; y < rows; ++y) {
            uint32_t *d = reinterpret_cast<uint32_t *>(dst.Row(r.top + y)) + r.left;
            const uint8_t *s = src.Row(sy + y) + sx;
            if (op == Op::Copy) {
                ExpandIndices(d, s, n, lut);
            } else {
                ExpandIndices(tmp, s, n, lut);
                ApplyBytes(reinterpret_cast<uint8_t *>(d), reinterpret_cast<const uint8_t *>(tmp), (size_t)n * 4, op);
            }
        }
    } else if (dst.bpp == 32) {
        const uint32_t mask = PixelMask(dst);
        const bool plain = mask == 0xFFFFFFFFu || src.window;
        uint32_t *tmp = plain ? nullptr : Scratch<uint32_t>(0, (size_t)n);
        for (int y = 0; y < rows; ++y) {
            uint8_t *d = dst.Row(r.top + y) + (size_t)r.left * 4;
            const uint32_t *s = reinterpret_cast<const uint32_t *>(src.Row(sy + y)) + sx;
            if (!plain) {
                for (int i = 0; i < n; ++i) tmp[i] = s[i] & mask;
                s = tmp;
            }
            ApplyBytes(d, reinterpret_cast<const uint8_t *>(s), (size_t)n * 4, op);
        }
    } else {
        Quantizer q{dst.bitmap->colorTable.data(), dst.bitmap->colorTable.size()};
        uint8_t *tmp = Scratch<uint8_t>(0, (size_t)n);
        for (int y = 0; y < rows; ++y) {
            const uint32_t *s = reinterpret_cast<const uint32_t *>(src.Row(sy + y)) + sx;
            for (int i = 0; i < n; ++i) tmp[i] = q(s[i]);
            ApplyBytes(dst.Row(r.top + y) + r.left, tmp, (size_t)n, op);
        }
    }
}

// Both planes on one bitmap or window, with the rectangles overlapping: the
// source is set aside first so the copy reads what was there before.
bool SameStorage(const Plane &a, const Plane &b) {
    return a.bitmap ? a.bitmap == b.bitmap : (b.window && a.top == b.top);
}

Plane SetAside(const Plane &src, int sx, int sy, int w, int h, int *outX, int *outY) {
    Plane copy = src;
    size_t rowBytes = (size_t)w * (size_t)(src.bpp / 8);
    uint8_t *bytes = Scratch<uint8_t>(1, rowBytes * (size_t)h);
    for (int y = 0; y < h; ++y) std::memcpy(bytes + rowBytes * (size_t)y, src.Row(sy + y) + (size_t)sx * (src.bpp / 8), rowBytes);
    copy.top = bytes;
    copy.pitch = (ptrdiff_t)rowBytes;
    copy.width = w;
    copy.height = h;
    *outX = 0;
    *outY = 0;
    return copy;
}

// Calls `draw` for each part of `r` (already inside the surface) the DC may
// draw on: all of it, or the pieces inside the paint clip.
template <typename F>
void ForEachPiece(DeviceContext *dc, const RECT &r, F &&draw) {
    if (!dc->hasClip) {
        draw(r);
        return;
    }
    for (const RECT &c : dc->clip.Rects()) {
        RECT piece = RectIntersection(r, c);
        if (!RectIsEmpty(piece)) draw(piece);
    }
}

// Clamps a 64-bit span to an int range without overflow.
LONG Clamp(int64_t v, int64_t lo, int64_t hi) { return (LONG)std::max(lo, std::min(hi, v)); }

// A negative extent counts back from the origin, which itself stays inside.
// Returns how far the origin moved.
int Normalise(int *origin, int *extent) {
    if (*extent >= 0) return 0;
    int64_t shift = (int64_t)*extent + 1;
    *origin = (int)((int64_t)*origin + shift);
    *extent = (int)-(int64_t)*extent;
    return (int)shift;
}

bool Fail(DWORD error) {
    SetLastError(error);
    return false;
}

bool DrawableFormat(const Plane &p) { return (p.bpp == 8 && p.bitmap) || p.bpp == 32; }

// ---- copies that repeat -------------------------------------------------------
//
// The program copies its backdrop whole into the work bitmap at the start of
// every frame. When the backdrop has not changed since the last such copy,
// the work bitmap still holds it everywhere but where something was drawn
// since, and only those blocks need copying again.

BitmapChanges::Copy CopyKey(const Plane &dst, const Plane &src, int64_t dx, int64_t dy, const RECT &r) {
    BitmapChanges::Copy key;
    key.valid = true;
    key.source = src.bitmap->changes.id;
    key.sourceWrites = src.bitmap->changes.writes;
    key.sourceTable = src.bitmap->tableVersion;
    key.table = dst.bitmap->tableVersion;
    key.dx = dx;
    key.dy = dy;
    key.rect = r;
    return key;
}

bool SameCopy(const BitmapChanges::Copy &a, const BitmapChanges::Copy &b) {
    return a.valid && b.valid && a.fill == b.fill && a.index == b.index && a.source == b.source &&
           a.sourceWrites == b.sourceWrites && a.sourceTable == b.sourceTable && a.table == b.table &&
           a.dx == b.dx && a.dy == b.dy && SameRect(a.rect, b.rect);
}

// Whether a copy of `src` onto `r` of `dst` can be remembered and repeated:
// between two tracked 8-bit bitmaps, unclipped, not onto itself.
bool Repeatable(DeviceContext *dc, const Plane &dst, const Plane &src) {
    return dst.bitmap && src.bitmap && !dc->hasClip && dst.bitmap != src.bitmap && ChangesTracked(*dst.bitmap) &&
           ChangesTracked(*src.bitmap);
}

// Keeps `key` as the bitmap's last copy or fill, made just now.
void Remember(BitmapChanges &c, BitmapChanges::Copy key) {
    key.after = c.writes;
    c.lastCopy = key;
}

// Whether `key` is the last copy or fill again, so that it need only be
// redone where the bitmap was written since. Counts about to wrap are not:
// the full copy restarts them.
bool Repeats(const BitmapChanges &c, const BitmapChanges::Copy &key) {
    return SameCopy(c.lastCopy, key) && c.writes != UINT32_MAX;
}

void RememberCopy(DeviceContext *dc, const Plane &dst, const Plane &src, int64_t dx, int64_t dy, const RECT &r) {
    if (Repeatable(dc, dst, src)) Remember(dst.bitmap->changes, CopyKey(dst, src, dx, dy, r));
}

// Calls `redo(y, left, right)` for each run of `r` written since the last
// remembered copy or fill, and counts what it redoes as written now: it
// differs from what the bitmap held a moment ago. From the log, the runs are
// what was written to the pixel; else, the blocks around it.
template <typename Redo>
void RedoWhereWritten(BitmapChanges &c, const RECT &r, Redo redo) {
    const uint32_t after = c.lastCopy.after;
    if (after == c.writes) return;
    const uint32_t count = ++c.writes;
    static std::vector<RECT> written;
    if (WrittenSince(c, after, &written)) {
        size_t kept = 0;
        for (const RECT &w : written) {
            RECT inside = RectIntersection(ToCacheLines(w), r);
            if (!RectIsEmpty(inside)) written[kept++] = inside;
        }
        written.resize(kept);
        ForEachRowRun(written, [&](LONG y, const std::vector<std::pair<LONG, LONG>> &spans) {
            for (const auto &span : spans) redo(y, span.first, span.second);
        });
        for (const RECT &w : written) CountWritten(c, w, count);
        c.lastCopy.after = c.writes;
        return;
    }
    const int b0 = r.left / kShownBlock, b1 = (r.right - 1) / kShownBlock + 1;
    for (LONG y = r.top; y < r.bottom; ++y) {
        if (c.rows[(size_t)y] <= after) continue;
        uint32_t *blocks = c.blocks.data() + (size_t)y * (size_t)c.blocksPerRow;
        for (int b = b0; b < b1;) {
            if (blocks[b] <= after) {
                ++b;
                continue;
            }
            int e = b;
            while (e < b1 && blocks[e] > after) blocks[e++] = count;
            redo(y, std::max<LONG>(r.left, b * kShownBlock), std::min<LONG>(r.right, e * kShownBlock));
            b = e;
        }
        c.rows[(size_t)y] = count;
    }
    // What was redone here is known by its blocks only.
    DropLog(c);
    c.lastCopy.after = c.writes;
}

// Repeats the last copy where the destination was written since; false when
// this is not that copy, which is then made in full.
bool RestoreCopy(DeviceContext *dc, const Plane &dst, const Plane &src, int64_t dx, int64_t dy, const RECT &r) {
    if (!Repeatable(dc, dst, src)) return false;
    BitmapChanges &c = dst.bitmap->changes;
    if (!Repeats(c, CopyKey(dst, src, dx, dy, r))) return false;
    // Thousands of short runs a frame: the colour translation is looked up once.
    const Translation &t = TranslationFor(*src.bitmap, *dst.bitmap);
    RedoWhereWritten(c, r, [&](LONG y, LONG left, LONG right) {
        uint8_t *to = dst.Row((int)y);
        const uint8_t *from = src.Row((int)(y + dy)) + dx;
        if (y + kRowsAhead < r.bottom) {
            PrefetchSpan(src.Row((int)(y + kRowsAhead + dy)) + dx + left, (size_t)(right - left), false);
            PrefetchSpan(dst.Row((int)(y + kRowsAhead)) + left, (size_t)(right - left), true);
        }
        if (t.identity) std::memcpy(to + left, from + left, (size_t)(right - left));
        else MapRow(to + left, from + left, right - left, t.map);
    });
    return true;
}

// The same for a solid fill of an 8-bit bitmap, as the program clears its
// work bitmap every frame when there is no backdrop: the key is the index
// and the bitmap's colour table.
BitmapChanges::Copy FillKey(const BitmapObject &bitmap, uint8_t index, const RECT &r) {
    BitmapChanges::Copy key;
    key.valid = true;
    key.fill = true;
    key.index = index;
    key.table = bitmap.tableVersion;
    key.rect = r;
    return key;
}

void FillIndex(DeviceContext *dc, const Plane &plane, uint8_t index, const RECT &r) {
    BitmapObject &bitmap = *plane.bitmap;
    // Only a fill of the whole bitmap is remembered: nothing before it could
    // be repeated anyway, while a small one would put an end to repeating
    // the copy it was drawn over.
    const bool rememberable = !dc->hasClip && SameRect(r, RECT{0, 0, bitmap.width, bitmap.height});
    BitmapChanges &c = bitmap.changes;
    const BitmapChanges::Copy key = FillKey(bitmap, index, r);
    if (rememberable && ChangesTracked(bitmap) && Repeats(c, key)) {
        RedoWhereWritten(c, r, [&](LONG y, LONG left, LONG right) {
            if (y + kRowsAhead < r.bottom) PrefetchSpan(plane.Row((int)(y + kRowsAhead)) + left, (size_t)(right - left), true);
            std::memset(plane.Row((int)y) + left, index, (size_t)(right - left));
        });
        return;
    }
    for (LONG y = r.top; y < r.bottom; ++y) std::memset(plane.Row(y) + r.left, index, (size_t)(r.right - r.left));
    NoteWritten(&bitmap, r);
    // A bitmap written for the first time has only now begun its counts.
    if (rememberable && ChangesTracked(bitmap)) Remember(c, key);
}

BOOL Blit(HDC hdcDst, int x, int y, int w, int h, HDC hdcSrc, int sx, int sy, DWORD rop) {
    DeviceContext *dstDc = DcFromHandle(hdcDst);
    Op op;
    if (!dstDc) return Fail(ERROR_INVALID_HANDLE);
    if (!OpFromRop(rop, &op)) return Fail(ERROR_INVALID_PARAMETER);
    bool needsSource = op != Op::Black && op != Op::White;
    DeviceContext *srcDc = needsSource ? DcFromHandle(hdcSrc) : nullptr;
    if (needsSource && !srcDc) return Fail(ERROR_INVALID_HANDLE);
    Plane dst, src;
    // A window with no surface (never shown) has nothing to draw on.
    if (!PlaneOf(dstDc, &dst)) return dstDc->window ? TRUE : Fail(ERROR_INVALID_HANDLE);
    if (needsSource && !PlaneOf(srcDc, &src)) return srcDc->window ? TRUE : Fail(ERROR_INVALID_HANDLE);
    // Monochrome bitmaps would need the DC's text and background colours to
    // convert; the program never copies to or from one.
    if (!DrawableFormat(dst) || (needsSource && !DrawableFormat(src))) return Fail(ERROR_INVALID_PARAMETER);

    // Both rectangles move back by the same amount.
    int shiftX = Normalise(&x, &w), shiftY = Normalise(&y, &h);
    sx = (int)((int64_t)sx + shiftX);
    sy = (int)((int64_t)sy + shiftY);
    // The destination rectangle, clipped to the destination surface and then
    // to what lies over the source: the rest is left as it was.
    int64_t left = x, top = y, right = (int64_t)x + w, bottom = (int64_t)y + h;
    left = std::max<int64_t>(left, 0);
    top = std::max<int64_t>(top, 0);
    right = std::min<int64_t>(right, dst.width);
    bottom = std::min<int64_t>(bottom, dst.height);
    int64_t dx = 0, dy = 0;  // source minus destination
    if (needsSource) {
        dx = (int64_t)sx - x;
        dy = (int64_t)sy - y;
        left = std::max<int64_t>(left, -dx);
        top = std::max<int64_t>(top, -dy);
        right = std::min<int64_t>(right, src.width - dx);
        bottom = std::min<int64_t>(bottom, src.height - dy);
    }
    if (left >= right || top >= bottom) return TRUE;
    RECT r = {Clamp(left, 0, dst.width), Clamp(top, 0, dst.height), Clamp(right, 0, dst.width),
              Clamp(bottom, 0, dst.height)};

    RECT drawn = {0, 0, 0, 0};
    if (op == Op::Copy && dst.window && src.bpp == 8) {
        // A frame of the program: only what differs from what the window
        // shows is converted and presented.
        uint32_t lut[256];
        PixelTable(*src.bitmap, lut);
        ForEachPiece(dstDc, r, [&](const RECT &piece) {
            ShownWriter writer(dstDc->window, reinterpret_cast<uint32_t *>(dst.top), dst.width, dst.height, lut, piece,
                               src.bitmap, dx, dy);
            const ShownWriter::Rows rows = {src.top, src.pitch * (ptrdiff_t)dy + (ptrdiff_t)(piece.left + dx), src.pitch};
            if (!writer.WriteLogged(rows))
                for (LONG row = piece.top; row < piece.bottom; ++row) writer.Row(row, rows.Of((int)row));
            writer.Finish();
        });
        return TRUE;
    }
    if (op == Op::Copy && RestoreCopy(dstDc, dst, src, dx, dy, r)) return TRUE;
    if (!needsSource) {
        ForEachPiece(dstDc, r, [&](const RECT &piece) {
            FillPlane(dst, piece, op);
            NoteWritten(dst.bitmap, piece);
            drawn = RectUnion(drawn, piece);
        });
    } else {
        Plane from = src;
        int64_t ox = dx, oy = dy;
        if (SameStorage(dst, src)) {
            int setX, setY;
            from = SetAside(src, (int)(r.left + dx), (int)(r.top + dy), r.right - r.left, r.bottom - r.top, &setX, &setY);
            ox = -(int64_t)r.left;
            oy = -(int64_t)r.top;
        }
        ForEachPiece(dstDc, r, [&](const RECT &piece) {
            CopyRect(dst, piece, from, (int)(piece.left + ox), (int)(piece.top + oy), op);
            NoteWritten(dst.bitmap, piece);
            drawn = RectUnion(drawn, piece);
        });
        if (op == Op::Copy) RememberCopy(dstDc, dst, src, dx, dy, r);
    }
    if (!RectIsEmpty(drawn)) DcDrawn(dstDc, drawn);
    return TRUE;
}

// ---- stretching ---------------------------------------------------------------

// What the stretch mode does with the source pixels that land on one
// destination pixel: AND them, OR them, or keep one.
enum class Merge { And, Or, Last };

Merge MergeFor(int mode) {
    switch (mode) {
    case BLACKONWHITE: return Merge::And;
    case WHITEONBLACK: return Merge::Or;
    }
    return Merge::Last;
}

// Reads one source pixel in the destination's format.
struct Read8to8 {
    const uint8_t *map;
    uint8_t operator()(const uint8_t *row, int x) const { return map[row[x]]; }
};
struct Read8to32 {
    const uint32_t *lut;
    uint32_t operator()(const uint8_t *row, int x) const { return lut[row[x]]; }
};
struct Read32to32 {
    uint32_t mask;
    uint32_t operator()(const uint8_t *row, int x) const {
        return reinterpret_cast<const uint32_t *>(row)[x] & mask;
    }
};
struct Read32to8 {
    Quantizer *q;
    uint8_t operator()(const uint8_t *row, int x) const { return (*q)(reinterpret_cast<const uint32_t *>(row)[x]); }
};

struct StretchJob {
    const Plane *dst;
    const Plane *src;
    RECT r;            // destination pixels to draw
    const int *colFirst, *colLast;  // source columns, indexed by r.left .. r.right - 1
    const int *rowFirst, *rowLast;  // source rows, indexed by r.top .. r.bottom - 1
    Merge merge;
    Op op;
};

// Stretches the job's rows and hands each finished one to `put(y, row)`.
template <typename T, typename Reader, typename Put>
void StretchRows(const StretchJob &job, Reader read, Put put) {
    const int n = job.r.right - job.r.left;
    T *acc = Scratch<T>(0, (size_t)n);
    int accFirst = -1, accLast = -1;
    for (LONG y = job.r.top; y < job.r.bottom; ++y) {
        int r0 = job.rowFirst[y - job.r.top], r1 = job.rowLast[y - job.r.top];
        // Keeping one pixel of a run takes the last column but the first row,
        // as the system's stretch does.
        if (job.merge == Merge::Last) r1 = r0;
        if (r0 != accFirst || r1 != accLast) {
            accFirst = r0;
            accLast = r1;
            for (int sr = r0; sr <= r1; ++sr) {
                const uint8_t *row = job.src->Row(sr);
                for (int i = 0; i < n; ++i) {
                    int c0 = job.colFirst[i], c1 = job.colLast[i];
                    T v;
                    if (job.merge == Merge::Last || c0 == c1) {
                        v = read(row, c1);
                    } else {
                        v = read(row, c0);
                        for (int c = c0 + 1; c <= c1; ++c) v = job.merge == Merge::And ? (T)(v & read(row, c)) : (T)(v | read(row, c));
                    }
                    if (sr == r0) acc[i] = v;
                    else acc[i] = job.merge == Merge::And ? (T)(acc[i] & v) : (T)(acc[i] | v);
                }
            }
        }
        put(y, acc);
    }
}

template <typename T, typename Reader>
void StretchRows(const StretchJob &job, Reader read) {
    const size_t bytes = (size_t)(job.r.right - job.r.left) * sizeof(T);
    StretchRows<T>(job, read, [&](LONG y, const T *row) {
        ApplyBytes(job.dst->Row(y) + (size_t)job.r.left * sizeof(T), reinterpret_cast<const uint8_t *>(row), bytes,
                   job.op);
    });
}

BOOL Stretch(HDC hdcDst, int x, int y, int w, int h, HDC hdcSrc, int sx, int sy, int sw, int sh, DWORD rop) {
    DeviceContext *dstDc = DcFromHandle(hdcDst);
    Op op;
    if (!dstDc) return Fail(ERROR_INVALID_HANDLE);
    if (!OpFromRop(rop, &op)) return Fail(ERROR_INVALID_PARAMETER);
    if (op == Op::Black || op == Op::White) return Blit(hdcDst, x, y, w, h, nullptr, 0, 0, rop);
    // Equal extents (mirrored on both sides or neither) are a plain copy.
    if (w == sw && h == sh) return Blit(hdcDst, x, y, w, h, hdcSrc, sx, sy, rop);
    DeviceContext *srcDc = DcFromHandle(hdcSrc);
    if (!srcDc) return Fail(ERROR_INVALID_HANDLE);
    // Mirroring is not offered: the program never asks for it.
    if ((w < 0) != (sw < 0) || (h < 0) != (sh < 0)) return Fail(ERROR_INVALID_PARAMETER);
    Normalise(&x, &w);
    Normalise(&y, &h);
    Normalise(&sx, &sw);
    Normalise(&sy, &sh);
    if (!w || !h || !sw || !sh) return TRUE;
    // A single destination column or row takes one source pixel fewer, as
    // the system's stretch does.
    if (w == 1 && sw > 1) sw--;
    if (h == 1 && sh > 1) sh--;
    Plane dst, src;
    if (!PlaneOf(dstDc, &dst)) return dstDc->window ? TRUE : Fail(ERROR_INVALID_HANDLE);
    if (!PlaneOf(srcDc, &src)) return srcDc->window ? TRUE : Fail(ERROR_INVALID_HANDLE);
    if (!DrawableFormat(dst) || !DrawableFormat(src)) return Fail(ERROR_INVALID_PARAMETER);
    if (SameStorage(dst, src)) return Fail(ERROR_INVALID_PARAMETER);  // never needed; refused rather than smeared

    // Destination pixels inside the destination surface.
    int64_t left = std::max<int64_t>(x, 0), right = std::min<int64_t>((int64_t)x + w, dst.width);
    int64_t top = std::max<int64_t>(y, 0), bottom = std::min<int64_t>((int64_t)y + h, dst.height);
    if (left >= right || top >= bottom) return TRUE;
    // The runs for the whole destination extent are worked out only over the
    // visible part; the extents themselves can be far larger than any surface.
    int visW = (int)(right - left), visH = (int)(bottom - top);
    int *cols = Scratch<int>(2, (size_t)(visW + visH) * 2);
    int *colFirst = cols, *colLast = cols + visW, *rowFirst = cols + 2 * visW, *rowLast = rowFirst + visH;
    // For each destination pixel along one axis, the run of source pixels
    // that lands on it: one pixel when growing, one or more when shrinking.
    // The choice follows the line from the first pixel centres to the last,
    // as the system's stretch does, so both pick the same pixels. Only the
    // visible part is kept; the walk itself is cheap next to the copy.
    auto runs = [](int srcLength, int dstLength, int64_t skip, int count, int srcOrigin, int srcLimit, int *first,
                   int *last, int *begin, int *end) {
        *begin = count;
        *end = 0;
        auto emit = [&](int64_t d, int f, int l) {
            if (d < skip || d >= skip + count) return;
            int i = (int)(d - skip);
            f = std::max(f + srcOrigin, 0);
            l = std::min(l + srcOrigin, srcLimit - 1);
            first[i] = f;
            last[i] = l;
            if (f <= l) {
                *begin = std::min(*begin, i);
                *end = std::max(*end, i + 1);
            }
        };
        if (dstLength >= srcLength) {
            int64_t err = 3 * (int64_t)srcLength - 2 * (int64_t)dstLength;
            int s = 0;
            for (int64_t d = 0; d < skip + count; ++d) {
                emit(d, s, s);
                if (err > 0) {
                    s++;
                    err += 2 * (int64_t)srcLength - 2 * (int64_t)dstLength;
                } else {
                    err += 2 * (int64_t)srcLength;
                }
            }
        } else {
            int64_t err = 3 * (int64_t)dstLength - 2 * (int64_t)srcLength;
            int64_t d = 0;
            int f = 0;
            for (int s = 0; s < srcLength && d < skip + count; ++s) {
                if (err > 0) {
                    emit(d, f, s);
                    d++;
                    f = s + 1;
                    err += 2 * (int64_t)dstLength - 2 * (int64_t)srcLength;
                } else {
                    err += 2 * (int64_t)dstLength;
                }
            }
            if (d < skip + count) emit(d, f, srcLength - 1);
        }
    };
    int cb, ce, rb, re;
    runs(sw, w, left - x, visW, sx, src.width, colFirst, colLast, &cb, &ce);
    runs(sh, h, top - y, visH, sy, src.height, rowFirst, rowLast, &rb, &re);
    // Destination pixels whose source lies outside the source are left alone;
    // the runs move steadily, so those that remain are one block.
    if (cb >= ce || rb >= re) return TRUE;
    RECT r = {(LONG)(left + cb), (LONG)(top + rb), (LONG)(left + ce), (LONG)(top + re)};
    colFirst += cb;
    colLast += cb;
    rowFirst += rb;
    rowLast += rb;

    Merge merge = MergeFor(dstDc->stretchMode);
    // Each window pixel from one source pixel: the indices can be stretched
    // and then shown as a copy shows them. Merging pixels of two colours
    // works on the colours, so that is converted as before.
    if (op == Op::Copy && dst.window && src.bpp == 8 && (merge == Merge::Last || (w >= sw && h >= sh))) {
        static uint8_t same[256];
        for (int i = 0; i < 256; ++i) same[i] = (uint8_t)i;
        uint32_t lut[256];
        PixelTable(*src.bitmap, lut);
        ForEachPiece(dstDc, r, [&](const RECT &piece) {
            StretchJob job{&dst, &src, piece,
                           colFirst + (piece.left - r.left), colLast + (piece.left - r.left),
                           rowFirst + (piece.top - r.top), rowLast + (piece.top - r.top), merge, op};
            ShownWriter writer(dstDc->window, reinterpret_cast<uint32_t *>(dst.top), dst.width, dst.height, lut, piece);
            StretchRows<uint8_t>(job, Read8to8{same}, [&](LONG y, const uint8_t *row) { writer.Row(y, row); });
            writer.Finish();
        });
        return TRUE;
    }
    RECT drawn = {0, 0, 0, 0};
    ForEachPiece(dstDc, r, [&](const RECT &piece) {
        StretchJob job{&dst, &src, piece,
                       colFirst + (piece.left - r.left), colLast + (piece.left - r.left),
                       rowFirst + (piece.top - r.top), rowLast + (piece.top - r.top), merge, op};
        if (dst.bpp == 8 && src.bpp == 8) {
            StretchRows<uint8_t>(job, Read8to8{TranslationFor(*src.bitmap, *dst.bitmap).map});
        } else if (dst.bpp == 32 && src.bpp == 8) {
            uint32_t lut[256];
            PixelTable(*src.bitmap, lut);
            StretchRows<uint32_t>(job, Read8to32{lut});
        } else if (dst.bpp == 32) {
            StretchRows<uint32_t>(job, Read32to32{PixelMask(dst)});
        } else {
            Quantizer q{dst.bitmap->colorTable.data(), dst.bitmap->colorTable.size()};
            StretchRows<uint8_t>(job, Read32to8{&q});
        }
        NoteWritten(dst.bitmap, piece);
        drawn = RectUnion(drawn, piece);
    });
    if (!RectIsEmpty(drawn)) DcDrawn(dstDc, drawn);
    return TRUE;
}

}  // namespace

RECT MemoryFill(DeviceContext *dc, const RECT &rect, COLORREF color) {
    Plane plane;
    RECT none = {0, 0, 0, 0};
    if (!PlaneOf(dc, &plane) || !DrawableFormat(plane)) return none;
    RECT r = RectIntersection(rect, RECT{0, 0, plane.width, plane.height});
    if (RectIsEmpty(r)) return none;
    int n = r.right - r.left;
    if (plane.bpp == 8) {
        const auto &table = plane.bitmap->colorTable;
        uint8_t index = (uint8_t)NearestIndex(table.data(), table.size(), GetRValue(color), GetGValue(color),
                                              GetBValue(color));
        FillIndex(dc, plane, index, r);
    } else {
        uint32_t pixel = PixelFromColorRef(color);
        for (LONG y = r.top; y < r.bottom; ++y) {
            uint32_t *row = reinterpret_cast<uint32_t *>(plane.Row(y)) + r.left;
            std::fill(row, row + n, pixel);
        }
    }
    return r;
}

COLORREF MemoryPixel(DeviceContext *dc, int x, int y) {
    Plane plane;
    if (!PlaneOf(dc, &plane)) return CLR_INVALID;
    if (x < 0 || y < 0 || x >= plane.width || y >= plane.height) return CLR_INVALID;
    const uint8_t *row = plane.Row(y);
    switch (plane.bpp) {
    case 8: {
        uint8_t index = row[x];
        const auto &table = plane.bitmap->colorTable;
        if (index >= table.size()) return 0;
        return RGB(table[index].rgbRed, table[index].rgbGreen, table[index].rgbBlue);
    }
    case 32: return ColorRefFromPixel(reinterpret_cast<const uint32_t *>(row)[x] & 0x00FFFFFF);
    case 1: return (row[x / 8] & (0x80 >> (x % 8))) ? RGB(255, 255, 255) : RGB(0, 0, 0);
    }
    return CLR_INVALID;
}

}  // namespace layer

using namespace layer;

extern "C" {

HBITMAP WINAPI CreateCompatibleBitmap(HDC hdc, int cx, int cy) {
    EnsureStarted();
    DeviceContext *dc = hdc ? DcFromHandle(hdc) : nullptr;
    if (hdc && !dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (cx < 0 || cy < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // An empty size gets the shared 1x1 monochrome bitmap, as on Windows.
    if (cx == 0 || cy == 0) return (HBITMAP)StockBitmap();
    if (TakeFault("CreateCompatibleBitmap")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    BitmapObject *model = (dc && dc->memory) ? BitmapFromHandle(dc->bitmap) : nullptr;
    std::unique_ptr<BitmapObject> bitmap;
    if (model && model->dib && model->bitsPixel == 8) {
        // The new section takes the model's colour table (a copy: changing one
        // later leaves the other as it is) and its orientation.
        bitmap = NewDibSection(cx, cy, model->topDown, 8, model->colorTable);
        if (bitmap) bitmap->tableVersion = model->tableVersion;
    } else if (model && model->bitsPixel == 1) {
        bitmap = NewDibSection(cx, cy, true, 1, {});
        if (bitmap) {
            // A device bitmap: WORD-aligned rows, no table, no bits to hand out.
            bitmap->dib = false;
            bitmap->colorTable.clear();
            bitmap->stride = (((size_t)cx + 15) / 16) * 2;
            bitmap->bits.assign(bitmap->stride * (size_t)cy, 0);
        }
    } else {
        // The display's format. From a 32-bit section another section, from
        // a window a device bitmap whose bits are not handed out.
        bool section = model && model->dib;
        bitmap = NewDibSection(cx, cy, section ? model->topDown : true, 32, {});
        if (bitmap) bitmap->dib = section;
    }
    if (!bitmap) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return (HBITMAP)GdiAdd(std::move(bitmap));
}

BOOL WINAPI BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) {
    EnsureStarted();
    return Blit(hdc, x, y, cx, cy, hdcSrc, x1, y1, rop);
}

BOOL WINAPI StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc, int ySrc,
                       int wSrc, int hSrc, DWORD rop) {
    EnsureStarted();
    return Stretch(hdcDest, xDest, yDest, wDest, hDest, hdcSrc, xSrc, ySrc, wSrc, hSrc, rop);
}

int WINAPI SetStretchBltMode(HDC hdc, int mode) {
    EnsureStarted();
    DeviceContext *dc = DcFromHandle(hdc);
    if (!dc) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (mode < BLACKONWHITE || mode > HALFTONE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    int previous = dc->stretchMode;
    dc->stretchMode = mode;
    return previous;
}

BOOL WINAPI GdiFlush(void) { return TRUE; }

}  // extern "C"
