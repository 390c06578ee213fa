// StretchBlt: each destination pixel from the source pixels that land on
// it, by the DC's stretch mode, worked out once per row and column.
#include <algorithm>
#include <cstring>

#include "gdi/planes.h"
#include "session/layer_internal.h"

namespace layer {

namespace {

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

}  // namespace layer

using namespace layer;

extern "C" {

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

}  // extern "C"
