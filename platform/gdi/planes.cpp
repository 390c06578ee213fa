// The pixels a DC draws on, scratch rows, and colour matching between
// tables: what the copies and the stretches share.
#include "gdi/planes.h"

#include <algorithm>
#include <array>

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

std::vector<uint8_t> &ScratchBytes(int which) {
    static std::array<std::vector<uint8_t>, 3> scratch;
    return scratch[(size_t)which];
}

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

uint32_t PixelMask(const Plane &dst) { return dst.window ? 0x00FFFFFFu : 0xFFFFFFFFu; }

bool SameStorage(const Plane &a, const Plane &b) {
    return a.bitmap ? a.bitmap == b.bitmap : (b.window && a.top == b.top);
}

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

}  // namespace layer
