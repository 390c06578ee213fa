#include "kernel/rle8.h"

#include <cstring>

namespace layer {

Rle8End DecodeRle8(const uint8_t *stream, size_t streamSize, uint8_t *pixels, int width, int height,
                   size_t stride) {
    if (!stream || !pixels || width <= 0 || height <= 0) return Rle8End::OutOfInput;
    const size_t w = (size_t)width;
    const size_t h = (size_t)height;
    size_t x = 0, y = 0;  // x may run past the row: later pixels of that row are dropped
    size_t at = 0;
    // Pixels [x, x + count) of the current row that fall inside it.
    auto clipped = [&](size_t count) -> size_t {
        if (x >= w) return 0;
        return count < w - x ? count : w - x;
    };
    while (at + 2 <= streamSize) {
        uint8_t first = stream[at];
        uint8_t second = stream[at + 1];
        at += 2;
        if (first > 0) {  // encoded run: `first` copies of one index
            size_t n = clipped(first);
            if (n) std::memset(pixels + y * stride + x, second, n);
            x += first;
            continue;
        }
        switch (second) {
        case 0:  // end of line
            x = 0;
            if (++y >= h) return Rle8End::PastLastRow;
            break;
        case 1:
            return Rle8End::EndOfBitmap;
        case 2: {  // delta: move right and up without drawing
            if (at + 2 > streamSize) return Rle8End::OutOfInput;
            x += stream[at];
            y += stream[at + 1];
            at += 2;
            if (y >= h) return Rle8End::PastLastRow;
            break;
        }
        default: {  // absolute run of `second` literal indices, padded to a WORD
            size_t count = second;
            size_t available = streamSize - at;
            size_t taken = count < available ? count : available;
            size_t n = clipped(taken);
            if (n) std::memcpy(pixels + y * stride + x, stream + at, n);
            if (taken < count) return Rle8End::OutOfInput;
            x += count;
            at += count + (count & 1);
            break;
        }
        }
    }
    return Rle8End::OutOfInput;
}

}  // namespace layer
