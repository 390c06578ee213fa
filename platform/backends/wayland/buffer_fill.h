// How a window's changed rows reach a Wayland buffer (surfaces.cpp).
#ifndef VANTREL_PLATFORM_WAYLAND_BUFFER_FILL_H
#define VANTREL_PLATFORM_WAYLAND_BUFFER_FILL_H

#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace layer {
namespace wayland {

// Writes `n` pixels of a window row into a buffer row: from the window's
// pixels, or from its indices through their table where given. The buffer
// was last written two frames ago and has left the cache, so whole cache
// lines go past it instead of being read in only to be overwritten.
inline void FillBufferSpan(uint32_t *out, const uint32_t *pixels, const uint8_t *indices, const uint32_t *table, int n) {
    int i = 0;
#if defined(__SSE2__)
    for (; i < n && (reinterpret_cast<uintptr_t>(out + i) & 63) != 0; ++i)
        out[i] = indices ? table[indices[i]] : pixels[i];
    for (; i + 16 <= n; i += 16) {
        for (int k = i; k < i + 16; k += 4) {
            __m128i v = indices ? _mm_setr_epi32((int)table[indices[k]], (int)table[indices[k + 1]],
                                                 (int)table[indices[k + 2]], (int)table[indices[k + 3]])
                                : _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixels + k));
            _mm_stream_si128(reinterpret_cast<__m128i *>(out + k), v);
        }
    }
#endif
    for (; i < n; ++i) out[i] = indices ? table[indices[i]] : pixels[i];
}

// What went past the cache is in memory before the compositor is told.
inline void FinishBufferFill() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

}  // namespace wayland
}  // namespace layer

#endif
