// Rendered frames through the real paint path, each beside the least a frame
// converted whole would have to do: copy the background into the work buffer
// and turn the work buffer into the window's 32-bit pixels. The ratio of the
// two is what a frame costs next to converting everything.
//
// - BM_BombFrame: 200 bombs standing still, at three screen sizes with and
//   without the backdrop: the composition, with nothing that moves to show.
// - BM_MovingField: 50 or 200 bombs in flight at the speeds the default
//   setting gives them; one that leaves the screen comes back elsewhere, so
//   the count holds.
// - BM_SlideshowFrame: a slideshow picture shown again, which changes nothing.
//
// Times are CPU time of this thread, so other load on a shared machine counts
// for less than it would in wall time.
#include <benchmark/benchmark.h>
#include <layer_hooks.h>
#include <windows.h>

#include <algorithm>
#include <time.h>

#include <cstring>
#include <vector>

#include "engine/engine.h"
#include "host/host.h"
#include "settings/settings.h"

namespace {

HWND MakeRunningSaver(int width, int height, LONG backdrop, LONG bombs = 200)
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
    SaverSettings = SaverSettingsRecord{};
    SaverSettings.BombCount = bombs;
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
    for (LONG i = bombs; i < BombSlotCount; ++i)
        BombField[i].active = 0;
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

double ThreadCpuMs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// CPU milliseconds per call of `step`, the least over `perBlock` calls.
template <typename Step>
double BlockMs(Step &&step, int perBlock)
{
    double start = ThreadCpuMs();
    for (int i = 0; i < perBlock; ++i)
        step();
    return (ThreadCpuMs() - start) / perBlock;
}

// Frames and baseline rounds in alternating blocks, so that both see the
// same state of the machine; each keeps its quickest block, the one least
// disturbed.
template <typename Step>
void ReportAgainstBaseline(benchmark::State &state, int width, int height, Step &&frame)
{
    Baseline baseline(width, height);
    double frameMs = 1e300, baselineMs = 1e300;
    const int perBlock = width * height > 4'000'000 ? 3 : 10;
    for (int pass = 0; pass < 8; ++pass) {
        frameMs = std::min(frameMs, BlockMs(frame, perBlock));
        baselineMs = std::min(baselineMs, BlockMs([&] { baseline.Round(); }, perBlock));
    }
    state.counters["frame_ms"] = frameMs;
    state.counters["baseline_ms"] = baselineMs;
    state.counters["ratio"] = frameMs / baselineMs;
}

void BM_BombFrame(benchmark::State &state)
{
    int width = int(state.range(0)), height = int(state.range(1));
    HWND window = MakeRunningSaver(width, height, LONG(state.range(2)));
    for (auto _ : state)
        PaintFrame(window);
    ReportAgainstBaseline(state, width, height, [&] { PaintFrame(window); });
    ReleaseAssets(window);
    DestroyWindow(window);
}

// The speeds a bomb gets when it starts, at the default speed setting.
float DefaultSpeed()
{
    double scale = SaverSettingsRecord{}.BombSpeed * double(0.01f) * 3.0 + 1.0;
    double slowest = double(0.1f) * scale, fastest = double(2.65f) * scale;
    return float(slowest + (fastest - slowest) * (NextRandom() / 32767.0));
}

void BM_MovingField(benchmark::State &state)
{
    int width = int(state.range(0)), height = int(state.range(1));
    LONG bombs = LONG(state.range(2));
    HWND window = MakeRunningSaver(width, height, LONG(state.range(3)), bombs);
    for (LONG i = 0; i < bombs; ++i)
        BombField[i].speed = DefaultSpeed();
    auto frame = [&] {
        PaintFrame(window);
        for (LONG i = 0; i < bombs; ++i) {
            BombSlot &bomb = BombField[i];
            if (bomb.active)
                continue;
            bomb.x = NextRandom() % width;
            bomb.y = NextRandom() % height - 64;
            bomb.speed = DefaultSpeed();
            bomb.carry = 0.0f;
            bomb.active = 1;
        }
    };
    for (auto _ : state)
        frame();
    ReportAgainstBaseline(state, width, height, frame);
    ReleaseAssets(window);
    DestroyWindow(window);
}

void BM_SlideshowFrame(benchmark::State &state)
{
    int width = int(state.range(0)), height = int(state.range(1));
    HWND window = MakeRunningSaver(width, height, 1);
    SaverSettings.BombsOnly = 0;
    SceneState.phase = Slideshow;
    SceneState.pictureShown = 0;
    PaintFrame(window);  // the picture arrives
    auto frame = [&] {
        SceneState.frameCount = 0;  // the picture stays
        PaintFrame(window);
    };
    for (auto _ : state)
        frame();
    ReportAgainstBaseline(state, width, height, frame);
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

void MovingFieldSizes(benchmark::internal::Benchmark *bench)
{
    for (auto size : {std::pair{1920, 1080}, std::pair{3840, 2160}})
        for (int bombs : {50, 200})
            for (int backdrop : {1, 0})
                bench->Args({size.first, size.second, bombs, backdrop});
    bench->ArgNames({"width", "height", "bombs", "backdrop"})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_BombFrame)->Apply(BombFrameSizes);
BENCHMARK(BM_MovingField)->Apply(MovingFieldSizes);
BENCHMARK(BM_SlideshowFrame)->Args({1920, 1080})->ArgNames({"width", "height"})->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
