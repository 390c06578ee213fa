// The pixels a DC draws on and what every copy between them shares: the
// raster operations, scratch rows, colour translation between tables and
// the row kernels (gdi/planes.cpp; the copies in gdi/blit.cpp, the
// stretches in gdi/stretch.cpp).
#ifndef VANTREL_PLATFORM_GDI_PLANES_H
#define VANTREL_PLATFORM_GDI_PLANES_H

#include <cstring>
#include <vector>

#include "gdi/gdi_internal.h"

namespace layer {

// What a raster operation does with the two pixels. Only the operations the
// program uses, and the two that need no source.
enum class Op { Copy, And, Or, Black, White };
bool OpFromRop(DWORD rop, Op *op);

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

// The DC's pixels, false when it has none to draw on.
bool PlaneOf(DeviceContext *dc, Plane *plane);

// Rows in the middle of a copy: one for a converted source row, one for a
// stretched row, one for the stretch's column map. They only grow.
std::vector<uint8_t> &ScratchBytes(int which);
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
const Translation &TranslationFor(const BitmapObject &src, const BitmapObject &dst);
// The 0x00RRGGBB pixel of each index of an 8-bit bitmap (black past its table).
void PixelTable(const BitmapObject &src, uint32_t lut[256]);

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
uint32_t PixelMask(const Plane &dst);

// Both planes on one bitmap or window, with the rectangles overlapping: the
// source is set aside first so the copy reads what was there before.
bool SameStorage(const Plane &a, const Plane &b);

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

// A negative extent counts back from the origin, which itself stays inside.
// Returns how far the origin moved.
int Normalise(int *origin, int *extent);
// Sets the error and answers false.
bool Fail(DWORD error);
// 8-bit with a table, or 32-bit: what the copies convert between.
bool DrawableFormat(const Plane &p);

BOOL Blit(HDC hdcDst, int x, int y, int w, int h, HDC hdcSrc, int sx, int sy, DWORD rop);

}  // namespace layer

#endif
