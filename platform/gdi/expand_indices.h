// 8-bit indices into 32-bit pixels, apart from the rest of GDI so that the
// display backends can use it too.
#ifndef VANTREL_PLATFORM_GDI_EXPAND_INDICES_H
#define VANTREL_PLATFORM_GDI_EXPAND_INDICES_H

#include <cstdint>
#include <cstring>

namespace layer {

// 8-bit indices into 32-bit pixels through a table: the conversion every
// copy to a window ends in. Four indices a step from one load.
inline void ExpandIndices(uint32_t *__restrict d, const uint8_t *__restrict s, int n,
                          const uint32_t *__restrict table) {
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        uint32_t q;
        std::memcpy(&q, s + i, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        q = __builtin_bswap32(q);
#endif
        d[i] = table[q & 0xFF];
        d[i + 1] = table[(q >> 8) & 0xFF];
        d[i + 2] = table[(q >> 16) & 0xFF];
        d[i + 3] = table[q >> 24];
    }
    for (; i < n; ++i) d[i] = table[s[i]];
}

}  // namespace layer

#endif
