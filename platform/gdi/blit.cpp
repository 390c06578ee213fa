// Copies between bitmaps and windows: BitBlt, compatible bitmaps, and fills
// and reads on memory DCs (stretches in gdi/stretch.cpp, what both share in
// gdi/planes.h).
//
// Every frame the program composes is made of these copies, so the copy loops
// are written for speed: whole rows at a time, colour matching through
// tables worked out once per pair of colour tables, no allocation once the
// scratch rows have grown to the largest size asked for.
#include <algorithm>
#include <cstring>

#include "gdi/planes.h"
#include "session/layer_internal.h"

namespace layer {

namespace {

// ---- whole rectangles ---------------------------------------------------------

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

// Clamps a 64-bit span to an int range without overflow.
LONG Clamp(int64_t v, int64_t lo, int64_t hi) { return (LONG)std::max(lo, std::min(hi, v)); }

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
    CountLogged(c);
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

}  // namespace

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

BOOL WINAPI GdiFlush(void) { return TRUE; }

}  // extern "C"
