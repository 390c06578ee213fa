// Decoding of 8-bit run-length encoded bitmap data (BI_RLE8). The stream
// comes from a resource, so it is decoded defensively: it never writes
// outside the destination, whatever the codes say.
#ifndef VANTREL_PLATFORM_RLE8_H
#define VANTREL_PLATFORM_RLE8_H

#include <cstddef>
#include <cstdint>

namespace layer {

enum class Rle8End {
    EndOfBitmap,  // the stream's own end code
    OutOfInput,   // the stream stopped before its end code
    PastLastRow,  // a delta or end of line left the bitmap
};

// Decodes into `pixels`, `height` rows of `stride` bytes, the stream's first
// row at the lowest address (as a bottom-up DIB keeps it). Runs are clipped
// at the end of their row. Pixels the stream does not reach are not written,
// so the caller's clearing stands.
Rle8End DecodeRle8(const uint8_t *stream, size_t streamSize, uint8_t *pixels, int width, int height,
                   size_t stride);

}  // namespace layer

#endif
