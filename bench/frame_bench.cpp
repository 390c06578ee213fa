// A rendered bomb frame with 200 bombs in flight, through the real paint
// path, at three screen sizes with and without the backdrop; and beside it
// the least any frame must do: copy the background into the work buffer and
// turn the work buffer into the window's 32-bit pixels. The ratio of the two
// is what the composition costs on top of moving the bytes.
#include <benchmark/benchmark.h>
#include <layer_hooks.h>
#include <windows.h>

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
// masks, no layer.
double BaselineMs(int width, int height)
{
    size_t pixels = size_t(width) * height;
    std::vector<uint8_t> background(pixels, 20), work(pixels);
    std::vector<uint32_t> window(pixels);
    uint32_t table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = uint32_t(i) * 0x010101u;
    const int rounds = 20;
    auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < rounds; ++round) {
        std::memcpy(work.data(), background.data(), pixels);
        for (size_t i = 0; i < pixels; ++i)
            window[i] = table[work[i]];
        benchmark::DoNotOptimize(window.data());
        benchmark::ClobberMemory();
    }
    std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / rounds;
}

void BM_BombFrame(benchmark::State &state)
{
    int width = int(state.range(0)), height = int(state.range(1));
    HWND window = MakeRunningSaver(width, height, LONG(state.range(2)));
    for (auto _ : state) {
        InvalidateRect(window, nullptr, FALSE);
        SendMessageA(window, WM_PAINT, 0, 0);
    }
    // The same frames once more on a plain clock, for the ratio.
    const int rounds = 20;
    auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < rounds; ++round) {
        InvalidateRect(window, nullptr, FALSE);
        SendMessageA(window, WM_PAINT, 0, 0);
    }
    std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
    double frameMs = spent.count() / rounds;
    double baseline = BaselineMs(width, height);
    state.counters["frame_ms"] = frameMs;
    state.counters["baseline_ms"] = baseline;
    state.counters["ratio"] = frameMs / baseline;
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
