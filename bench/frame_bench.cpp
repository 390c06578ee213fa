// A rendered bomb frame with 200 bombs in flight, through the real paint
// path, at three screen sizes with and without the backdrop; and beside it
// the least any frame must do: copy the background into the work buffer and
// turn the work buffer into the window's 32-bit pixels. The ratio of the two
// is what the composition costs on top of moving the bytes.
#include <benchmark/benchmark.h>
#include <layer_hooks.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "engine/engine.h"
#include "host/host.h"
#include "settings/settings.h"

namespace {

HWND MakeRunningSaver(int width, int height, LONG backdrop)
{
    layer::ResetHeadless(width, height);
    layer::SetTickCount(1000);
    HostState = HostStateRecord{};
    HostState.instance = GetModuleHandleA(nullptr);
    WNDCLASSA saverClass = {};
    saverClass.style = CS_OWNDC;
    saverClass.lpfnWndProc = HostWindowProc;
    saverClass.hInstance = HostState.instance;
    saverClass.lpszClassName = "BenchSaver";
    RegisterClassA(&saverClass);
    HWND window = CreateWindowExA(0, "BenchSaver", "Screen Saver", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                                  nullptr, nullptr, HostState.instance, nullptr);
    SaverSettings.BombCount = 200;
    SaverSettings.BombsOnly = 1;  // the phase never ends while we measure
    SaverSettings.BombBackdrop = backdrop;
    InvalidateRect(window, nullptr, FALSE);
    SendMessageA(window, WM_PAINT, 0, 0);  // preparation and warm-up
    // Every slot in flight, spread over the screen, standing still.
    SeedRandom(7);
    for (BombSlot &bomb : BombField) {
        bomb.x = NextRandom() % (width + 64) - 64;
        bomb.y = NextRandom() % (height + 64) - 64;
        bomb.active = 1;
        bomb.speed = 0.0f;
        bomb.carry = 0.0f;
    }
    return window;
}

// Background copy and 8-to-32 conversion over plain buffers: no clipping, no
// masks, no layer. The buffers are made once, so a round measures only the
// moving of bytes.
// A plain table lookup a row at a time, written the way the layer writes
// its own conversion.
void ConvertRow(uint32_t *__restrict out, const uint8_t *__restrict in, int count, const uint32_t *__restrict table)
{
    for (int i = 0; i < count; ++i)
        out[i] = table[in[i]];
}

class Baseline {
public:
    Baseline(int width, int height)
        : width_(width), height_(height), pixels_(size_t(width) * height), background_(pixels_), work_(pixels_), window_(pixels_)
    {
        // Varied indices, as a real backdrop has, not one repeated value.
        for (size_t i = 0; i < pixels_; ++i)
            background_[i] = uint8_t((i * 2654435761u) >> 24);
        for (int i = 0; i < 256; ++i)
            table_[i] = uint32_t(i) * 0x010101u;
    }
    void Round()
    {
        std::memcpy(work_.data(), background_.data(), pixels_);
        for (int y = 0; y < height_; ++y)
            ConvertRow(window_.data() + size_t(y) * width_, work_.data() + size_t(y) * width_, width_, table_);
        benchmark::DoNotOptimize(window_.data());
        benchmark::ClobberMemory();
    }

private:
    int width_, height_;
    size_t pixels_;
    std::vector<uint8_t> background_, work_;
    std::vector<uint32_t> window_;
    uint32_t table_[256];
};

void PaintFrame(HWND window)
{
    InvalidateRect(window, nullptr, FALSE);
    SendMessageA(window, WM_PAINT, 0, 0);
}

// Milliseconds per call of `step`, the least over several short blocks: on a
// shared machine the quickest block is the one least disturbed.
template <typename Step>
double QuickestBlockMs(Step &&step, int blocks, int perBlock)
{
    double best = 1e300;
    for (int block = 0; block < blocks; ++block) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < perBlock; ++i)
            step();
        std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
        best = std::min(best, spent.count() / perBlock);
    }
    return best;
}

void BM_BombFrame(benchmark::State &state)
{
    int width = int(state.range(0)), height = int(state.range(1));
    HWND window = MakeRunningSaver(width, height, LONG(state.range(2)));
    for (auto _ : state)
        PaintFrame(window);
    // Frames and baseline rounds once more, in alternating blocks so that
    // both see the same state of the machine, for the ratio.
    Baseline baseline(width, height);
    double frameMs = 1e300, baselineMs = 1e300;
    const int perBlock = width * height > 4'000'000 ? 3 : 10;
    for (int pass = 0; pass < 8; ++pass) {
        frameMs = std::min(frameMs, QuickestBlockMs([&] { PaintFrame(window); }, 1, perBlock));
        baselineMs = std::min(baselineMs, QuickestBlockMs([&] { baseline.Round(); }, 1, perBlock));
    }
    state.counters["frame_ms"] = frameMs;
    state.counters["baseline_ms"] = baselineMs;
    state.counters["ratio"] = frameMs / baselineMs;
    ReleaseAssets(window);
    DestroyWindow(window);
}

void BombFrameSizes(benchmark::internal::Benchmark *bench)
{
    for (auto size : {std::pair{640, 480}, std::pair{1920, 1080}, std::pair{3840, 2160}})
        for (int backdrop : {1, 0})
            bench->Args({size.first, size.second, backdrop});
    bench->ArgNames({"width", "height", "backdrop"})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_BombFrame)->Apply(BombFrameSizes);
BENCHMARK_MAIN();
