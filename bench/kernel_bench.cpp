// The layer's row kernels on their own, through the calls the program makes:
// an 8-bit frame turned into 32-bit pixels, and the masked sprite copies
// (SRCAND of the mask, SRCPAINT of the sprite) of a bomb field. Figures are
// CPU time per call, so other load on the machine counts for less.
#include <benchmark/benchmark.h>
#include <layer_hooks.h>
#include <windows.h>

#include <cstdint>
#include <cstring>

namespace {

struct Info8 {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};

HBITMAP MakeSection(int width, int height, int bits, void **pixels)
{
    Info8 info = {};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = -height;
    info.header.biPlanes = 1;
    info.header.biBitCount = WORD(bits);
    info.header.biCompression = BI_RGB;
    for (int i = 0; i < 256; ++i)
        info.colors[i] = {BYTE(i), BYTE(255 - i), BYTE(i * 7), 0};
    return CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO *>(&info), DIB_RGB_COLORS, pixels, nullptr, 0);
}

HDC Holding(HBITMAP bitmap)
{
    HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, bitmap);
    return dc;
}

// An 8-bit frame of varied indices into a 32-bit section: the conversion a
// window copy does wherever its pixels changed.
void BM_Convert8To32(benchmark::State &state)
{
    int width = int(state.range(0)), height = int(state.range(1));
    layer::ResetHeadless(640, 480);
    void *in = nullptr, *out = nullptr;
    HDC from = Holding(MakeSection(width, height, 8, &in));
    HDC to = Holding(MakeSection(width, height, 32, &out));
    auto *bytes = static_cast<uint8_t *>(in);
    size_t stride = (size_t(width) + 3) & ~size_t(3);
    for (size_t i = 0; i < stride * size_t(height); ++i)
        bytes[i] = uint8_t((i * 2654435761u) >> 24);
    for (auto _ : state)
        BitBlt(to, 0, 0, width, height, from, 0, 0, SRCCOPY);
    state.SetBytesProcessed(int64_t(state.iterations()) * width * height);
}

// `count` 65 x 65 sprites masked onto an 8-bit frame at odd offsets, as the
// bomb field draws them.
void BM_MaskedSprites(benchmark::State &state)
{
    const int width = 1920, height = 1080, side = 65;
    int count = int(state.range(0));
    layer::ResetHeadless(640, 480);
    void *bits = nullptr;
    HDC frame = Holding(MakeSection(width, height, 8, &bits));
    HDC sprite = Holding(MakeSection(side, side, 8, &bits));
    std::memset(bits, 0x5A, size_t(side + 3) / 4 * 4 * side);
    HDC mask = Holding(MakeSection(side, side, 8, &bits));
    std::memset(bits, 0xA5, size_t(side + 3) / 4 * 4 * side);
    for (auto _ : state) {
        for (int i = 0; i < count; ++i) {
            int x = int((i * 7919u) % unsigned(width - side)), y = int((i * 104729u) % unsigned(height - side));
            BitBlt(frame, x, y, side, side, mask, 0, 0, SRCAND);
            BitBlt(frame, x, y, side, side, sprite, 0, 0, SRCPAINT);
        }
    }
}

}  // namespace

BENCHMARK(BM_Convert8To32)->Args({640, 480})->Args({1920, 1080})->ArgNames({"width", "height"})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MaskedSprites)->Arg(50)->Arg(200)->ArgName("sprites")->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
