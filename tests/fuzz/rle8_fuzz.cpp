// Arbitrary run-length streams decoded into bitmaps of a size the input
// picks: no write may land outside the rows, checked by guard bytes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/kernel/rle8.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int width = 1 + data[0] % 70;   // odd and even widths, padded rows
    const int height = 1 + data[1] % 40;
    const size_t stride = ((size_t)width + 3) & ~(size_t)3;
    constexpr size_t kGuard = 32;
    std::vector<uint8_t> memory(kGuard + stride * (size_t)height + kGuard, 0xA5);
    uint8_t *pixels = memory.data() + kGuard;
    std::memset(pixels, 0, stride * (size_t)height);

    layer::DecodeRle8(data + 2, size - 2, pixels, width, height, stride);

    for (size_t i = 0; i < kGuard; ++i)
        if (memory[i] != 0xA5 || memory[memory.size() - 1 - i] != 0xA5)
            __builtin_trap();
    // Row padding is outside the picture too.
    for (int y = 0; y < height; ++y)
        for (size_t x = (size_t)width; x < stride; ++x)
            if (pixels[(size_t)y * stride + x] != 0)
                __builtin_trap();
    return 0;
}
