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
// - BM_ColdMovingField: the moving field again, every frame and every
//   baseline round starting with caches that hold none of its memory, as a
//   frame does after the 66 ms the saver sleeps between frames; the warm
//   figures beside them for comparison.
//
// Times are CPU time of this thread, so other load on a shared machine counts
// for less than it would in wall time.
#include <benchmark/benchmark.h>
#include <layer_hooks.h>
#include <windows.h>

#include <errno.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <glob.h>
#include <map>
#include <string>
#include <tuple>
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

struct Figures {
    double frameMs = 0, baselineMs = 0;
};

void Report(benchmark::State &state, const Figures &figures, const std::string &prefix = "")
{
    state.counters[prefix + "frame_ms"] = figures.frameMs;
    state.counters[prefix + "baseline_ms"] = figures.baselineMs;
    state.counters[prefix + "ratio"] = figures.frameMs / figures.baselineMs;
}

// Frames and baseline rounds in alternating blocks, so that both see the
// same state of the machine; each keeps its quickest block, the one least
// disturbed.
template <typename Step>
Figures WarmFigures(int width, int height, Step &&frame)
{
    Baseline baseline(width, height);
    Figures best{1e300, 1e300};
    const int perBlock = width * height > 4'000'000 ? 3 : 10;
    for (int pass = 0; pass < 8; ++pass) {
        best.frameMs = std::min(best.frameMs, BlockMs(frame, perBlock));
        best.baselineMs = std::min(best.baselineMs, BlockMs([&] { baseline.Round(); }, perBlock));
    }
    return best;
}

template <typename Step>
void ReportAgainstBaseline(benchmark::State &state, int width, int height, Step &&frame)
{
    Report(state, WarmFigures(width, height, frame));
}

// ---- cold frames ---------------------------------------------------------------
// The largest cache the processor reports, in bytes; 0 when it says nothing.
size_t LargestCacheBytes()
{
    size_t largest = 0;
    glob_t found = {};
    if (glob("/sys/devices/system/cpu/cpu0/cache/index*/size", 0, nullptr, &found) == 0) {
        for (size_t i = 0; i < found.gl_pathc; ++i) {
            std::ifstream file(found.gl_pathv[i]);
            unsigned long long value = 0;
            char unit = 0;
            if (!(file >> value))
                continue;
            file >> unit;
            if (unit == 'K')
                value <<= 10;
            else if (unit == 'M')
                value <<= 20;
            largest = std::max<size_t>(largest, value);
        }
    }
    globfree(&found);
    return largest;
}

// What a frame finds in the caches after the saver's sleep: none of its own
// memory. Writing a line of every 64 bytes over twice the largest cache
// pushes out everything else (dirty lines included, as another program's
// work would leave them) and the page translations with it, in a few
// milliseconds of wall time where the real 66 ms sleep would cost the whole
// period. The stores are plain ones: memset would stream past the cache
// over a buffer this size. FRAME_BENCH_COLD=sleep sleeps the real period
// instead, to check the one against the other.
bool CoolBySleeping()
{
    const char *how = std::getenv("FRAME_BENCH_COLD");
    return how && std::strcmp(how, "sleep") == 0;
}

class Cooler {
public:
    Cooler() : sleep_(CoolBySleeping())
    {
        size_t cache = LargestCacheBytes();
        bytes_ = cache ? 2 * cache : size_t(64) << 20;  // unknown: more than most processors have
        if (!sleep_)
            buffer_.assign(bytes_, 0);
    }
    void Cool()
    {
        if (sleep_) {
            timespec period = {0, 66'000'000};
            while (nanosleep(&period, &period) != 0 && errno == EINTR) {
            }
            return;
        }
        uint8_t *bytes = buffer_.data();
        for (size_t i = 0; i < bytes_; i += 64)
            bytes[i] = uint8_t(bytes[i] + 1);
        benchmark::DoNotOptimize(bytes);
        benchmark::ClobberMemory();
    }

private:
    bool sleep_ = false;
    size_t bytes_ = 0;
    std::vector<uint8_t> buffer_;
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Each frame and each baseline round alone, the caches emptied before it,
// taking turns; the median of each, since a cold step has no quickest
// block to keep and a noisy neighbour spoils single samples either way.
template <typename Step>
Figures ColdFigures(int width, int height, Step &&frame)
{
    static Cooler cooler;
    Baseline baseline(width, height);
    const int samples = 200;
    std::vector<double> frames, rounds;
    for (int i = 0; i < samples; ++i) {
        cooler.Cool();
        frames.push_back(BlockMs(frame, 1));
        cooler.Cool();
        rounds.push_back(BlockMs([&] { baseline.Round(); }, 1));
    }
    return {Median(frames), Median(rounds)};
}

// Cold figures by (width, height, bombs), for the comparisons after the run.
std::map<std::tuple<int, int, int>, std::pair<Figures, Figures>> ColdRuns;

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

// A field of `bombs` in flight at the default speeds; a frame paints it and
// brings back, elsewhere, the bombs that left the screen.
struct MovingField {
    MovingField(int width, int height, LONG bombs, LONG backdrop)
        : width(width), height(height), bombs(bombs), window(MakeRunningSaver(width, height, backdrop, bombs))
    {
        for (LONG i = 0; i < bombs; ++i)
            BombField[i].speed = DefaultSpeed();
    }
    ~MovingField()
    {
        ReleaseAssets(window);
        DestroyWindow(window);
    }
    void Frame()
    {
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
    }
    int width, height;
    LONG bombs;
    HWND window;
};

void BM_MovingField(benchmark::State &state)
{
    int width = int(state.range(0)), height = int(state.range(1));
    MovingField field(width, height, LONG(state.range(2)), LONG(state.range(3)));
    auto frame = [&] { field.Frame(); };
    for (auto _ : state)
        frame();
    ReportAgainstBaseline(state, width, height, frame);
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

// A moving field with the backdrop, as the default settings show it: cold
// frames (the counters without prefix) beside warm ones ("warm_").
void BM_ColdMovingField(benchmark::State &state)
{
    int width = int(state.range(0)), height = int(state.range(1)), bombs = int(state.range(2));
    MovingField field(width, height, bombs, 1);
    auto frame = [&] { field.Frame(); };
    Figures cold;
    for (auto _ : state) {
        cold = ColdFigures(width, height, frame);
        state.SetIterationTime(cold.frameMs / 1e3);
    }
    Figures warm = WarmFigures(width, height, frame);
    Report(state, cold);
    Report(state, warm, "warm_");
    ColdRuns[{width, height, bombs}] = {cold, warm};
}

// The two comparisons the cold frames are for: what four times the pixels
// and four times the bombs cost.
void PrintColdSummary(FILE *out)
{
    auto find = [](int width, int height, int bombs) -> const std::pair<Figures, Figures> * {
        auto it = ColdRuns.find({width, height, bombs});
        return it == ColdRuns.end() ? nullptr : &it->second;
    };
    const auto *small = find(1920, 1080, 50), *large = find(3840, 2160, 50), *crowded = find(1920, 1080, 200);
    if (!small)
        return;
    auto line = [&](const char *what, const std::pair<Figures, Figures> &other, double target) {
        double cold = other.first.frameMs / small->first.frameMs;
        double warm = other.second.frameMs / small->second.frameMs;
        std::fprintf(out, "%-28s cold %.3f (target <= %.1f: %s), warm %.2f\n", what, cold, target,
                     cold <= target ? "met" : "missed", warm);
    };
    std::fprintf(out, "\nCold frames (%s),\nframe time against 1920x1080 with 50 bombs:\n",
                 CoolBySleeping() ? "after a sleep of 66 ms" : "after a walk over twice the largest cache");
    if (large)
        line("3840x2160 / 1920x1080", *large, 1.5);
    if (crowded)
        line("200 bombs / 50 bombs", *crowded, 2.5);
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
BENCHMARK(BM_ColdMovingField)
    ->Args({1920, 1080, 50})
    ->Args({3840, 2160, 50})
    ->Args({1920, 1080, 200})
    ->ArgNames({"width", "height", "bombs"})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    // The summary follows the table; it would spoil JSON or CSV output.
    bool console = true;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--benchmark_format=", 19) == 0 && std::strcmp(argv[i] + 19, "console") != 0)
            console = false;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    if (console)
        PrintColdSummary(stdout);
    benchmark::Shutdown();
    return 0;
}
