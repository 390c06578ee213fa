// A day of the full-screen saver in a few minutes: the real window and
// message loop on the headless backend, default settings (the slideshow
// taking turns with the bombs), the frame timer driven by the layer's
// virtual clock, so that every tick comes at once instead of after 66 ms.
// The tick count starts where the 32-bit counter wraps halfway through.
//
// At the start, the middle and the end it reports resident memory, live GDI
// objects and what a frame costs, and it fails (exit 1) when memory or GDI
// objects grow by more than 1 % from one of those samples to a later one, or
// when the scene cycle keeps another rhythm after the wrap than before it.
// A frame's cost at each of those points is that of the quickest of the
// scene cycles around it (the first cycle, which makes what the others
// reuse, left out): what other work on a shared machine takes only ever adds
// to a cycle. Frame times are reported only: such a machine is too noisy to
// judge by.
//
//   soak [--frames N] [--size WIDTHxHEIGHT]
//
// N defaults to 1 310 000 frames, 24 hours at 66 ms a frame.
#include <layer_hooks.h>
#include <windows.h>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "host/host.h"
#include "settings/settings.h"

namespace {

const uint64_t DefaultFrames = 1'310'000;
// Enough for the wrap to stay inside the 32-bit counter's range (and for
// 76 days of saver time); more is a mistyped number.
const uint64_t MostFrames = 100'000'000;

struct Options {
    uint64_t frames = DefaultFrames;
    int width = 1920;
    int height = 1080;
};

// Phase starts are the paints that begin a phase: the one that prepares a
// bomb phase, the one that shows a slideshow picture.
struct PhaseStart {
    uint64_t paint;
    DWORD tick;
    ScenePhase phase;
};

// What the process looks like right after a bomb phase was prepared, the
// one moment of the cycle at which memory and objects are compared.
struct Sample {
    uint64_t paint = 0;
    uint64_t residentBytes = 0;
    int gdiObjects = 0;
    double cycleFrameMs = 0;  // the whole thread's CPU over the cycle before, per paint
    double bombFrameMs = 0;   // a paint of the bomb field alone, preparation excluded
};

// The quickest of the cycles seen at one point of the run, and how many.
constexpr size_t TimedCycles = 8;
struct Quickest {
    double cycleFrameMs = 0;
    double bombFrameMs = 0;
    size_t cycles = 0;
    void Add(const Sample &s)
    {
        cycleFrameMs = cycles ? std::min(cycleFrameMs, s.cycleFrameMs) : s.cycleFrameMs;
        bombFrameMs = cycles ? std::min(bombFrameMs, s.bombFrameMs) : s.bombFrameMs;
        ++cycles;
    }
};

// Everything is noted as it happens, in records of a fixed size, so that the
// soak's own bookkeeping does not grow the memory it watches.
struct SoakRecord {
    uint64_t frames = 0;
    uint64_t paints = 0;
    WNDPROC saverProc = nullptr;
    // The rhythm: phase starts on either side of the wrap, each checked
    // against the one before it.
    PhaseStart lastStart = {};
    bool started = false;
    uint64_t phasesBefore = 0, phasesAfter = 0, wrapPaint = 0;
    std::vector<std::string> rhythmFaults;
    // Cycle starts: the first (which makes what the others reuse), the
    // second (the start), the one nearest the middle with others after it,
    // the last.
    uint64_t cycleCount = 0;
    Sample startSample, middleSample, endSample;
    bool haveMiddle = false;
    // Frame times: the cycles after the first, up to TimedCycles of them;
    // those within half of that many cycles of the middle; the last ones.
    Quickest startTimes, middleTimes;
    Sample lastCycles[TimedCycles];
    uint64_t cycleFrames = 0;  // a cycle's length, from the first two
    double cpuAtCycleStart = 0;
    uint64_t paintAtCycleStart = 0;
    double bombPaintMs = 0;
    uint64_t bombPaints = 0;
    bool badStart = false;
    bool overran = false;             // paints went on with no idle moment between them
    uint64_t idleWithoutPaint = 0;    // idle moments since the last paint
    bool stalled = false;
};
SoakRecord Soak;

double ThreadCpuMs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

uint64_t ResidentBytes()
{
    unsigned long long size = 0, resident = 0;
    FILE *statm = std::fopen("/proc/self/statm", "r");
    if (statm) {
        if (std::fscanf(statm, "%llu %llu", &size, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return uint64_t(resident) * uint64_t(sysconf(_SC_PAGESIZE));
}

uint64_t Distance(uint64_t a, uint64_t b) { return a > b ? a - b : b - a; }

void NotePhaseStart(const PhaseStart &to)
{
    if (!Soak.started) {
        Soak.started = true;
        Soak.lastStart = to;
        return;
    }
    const PhaseStart from = Soak.lastStart;
    Soak.lastStart = to;
    // Every phase lasts its frame budget plus the paint that begins it, one
    // timer period each, on either side of the wrap.
    const uint64_t expectedFrames = uint64_t(FrameBudget(SaverSettings.ScreenDelay)) + 1;
    const uint64_t expectedTicks = expectedFrames * FrameTimerPeriodMs;
    const bool across = to.tick < from.tick;
    const char *when = across ? "across" : Soak.wrapPaint ? "after" : "before";
    if (across)
        Soak.wrapPaint = to.paint;
    else
        ++(Soak.wrapPaint ? Soak.phasesAfter : Soak.phasesBefore);
    uint64_t frames = to.paint - from.paint;
    DWORD ticks = to.tick - from.tick;
    if ((frames != expectedFrames || ticks != expectedTicks || to.phase == from.phase) &&
        Soak.rhythmFaults.size() < Soak.rhythmFaults.capacity()) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "the phase that began at frame %llu (%s the wrap) lasted %llu frames and %lu ms, not %llu "
                      "and %llu",
                      (unsigned long long)from.paint, when, (unsigned long long)frames, (unsigned long)ticks,
                      (unsigned long long)expectedFrames, (unsigned long long)expectedTicks);
        Soak.rhythmFaults.push_back(text);
    }
}

void NoteCycleStart(const Sample &sample)
{
    const uint64_t index = Soak.cycleCount++;
    if (index == 1)
        Soak.startSample = sample;
    if (index < 2)
        return;
    // From here on each sample times a whole cycle after the first.
    if (index == 2)
        Soak.cycleFrames = sample.paint - Soak.startSample.paint;
    if (index < 2 + TimedCycles)
        Soak.startTimes.Add(sample);
    if (Distance(sample.paint, Soak.frames / 2) <= Soak.cycleFrames * TimedCycles / 2)
        Soak.middleTimes.Add(sample);
    Soak.lastCycles[(index - 2) % TimedCycles] = sample;
    // The cycle start before this one now has one after it: a candidate
    // for the middle.
    const Sample &previous = Soak.endSample;
    const uint64_t half = Soak.frames / 2;
    if (index >= 3 && (!Soak.haveMiddle || Distance(previous.paint, half) < Distance(Soak.middleSample.paint, half))) {
        Soak.middleSample = previous;
        Soak.haveMiddle = true;
    }
    Soak.endSample = sample;
}

// Sees every paint of the saver window go by: counts it, times the bomb
// field's, and notes where the phases begin.
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_PAINT)
        return CallWindowProcA(Soak.saverProc, window, message, wParam, lParam);
    const bool bombFrame = SceneState.phase == Bombs && SceneState.bombSceneReady;
    const bool pictureShown = SceneState.pictureShown;
    double before = ThreadCpuMs();
    LRESULT result = CallWindowProcA(Soak.saverProc, window, message, wParam, lParam);
    double after = ThreadCpuMs();
    ++Soak.paints;
    Soak.idleWithoutPaint = 0;
    // A loop that never idles again would never reach the end of the run.
    if (Soak.paints > Soak.frames + 10'000 && !Soak.overran) {
        Soak.overran = true;
        PostQuitMessage(1);
    }
    if (bombFrame) {
        Soak.bombPaintMs += after - before;
        ++Soak.bombPaints;
    }
    if (!bombFrame && SceneState.phase == Bombs && SceneState.bombSceneReady) {
        NotePhaseStart({Soak.paints, GetTickCount(), Bombs});
        Sample sample;
        sample.paint = Soak.paints;
        sample.residentBytes = ResidentBytes();
        sample.gdiObjects = layer::LiveGdiObjects();
        uint64_t paints = Soak.paints - Soak.paintAtCycleStart;
        sample.cycleFrameMs = paints ? (after - Soak.cpuAtCycleStart) / double(paints) : 0;
        sample.bombFrameMs = Soak.bombPaints ? Soak.bombPaintMs / double(Soak.bombPaints) : 0;
        NoteCycleStart(sample);
        Soak.cpuAtCycleStart = after;
        Soak.paintAtCycleStart = Soak.paints;
        Soak.bombPaintMs = 0;
        Soak.bombPaints = 0;
    } else if (!pictureShown && SceneState.phase == Slideshow && SceneState.pictureShown) {
        NotePhaseStart({Soak.paints, GetTickCount(), Slideshow});
    }
    return result;
}

// The loop's idle moments, one between two frames: the first puts the
// counter in place (the window has had its first paint by then), the last
// ends the run.
void BetweenFrames()
{
    HWND window = HostState.window;
    if (!window || !IsWindow(window))
        return;
    if (!Soak.saverProc) {
        // Exactly the first paint, the one that prepared the first bomb phase.
        if (!(SceneState.phase == Bombs && SceneState.bombSceneReady && SceneState.frameCount == 0))
            Soak.badStart = true;
        Soak.paints = 1;
        NotePhaseStart({1, GetTickCount(), Bombs});
        NoteCycleStart(Sample{});  // the first cycle's, which is only counted
        Soak.cpuAtCycleStart = ThreadCpuMs();
        Soak.paintAtCycleStart = 1;
        Soak.saverProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingProc)));
    }
    // Nor would a loop whose timer stopped.
    if (++Soak.idleWithoutPaint > 1000)
        Soak.stalled = true;
    if (Soak.paints >= Soak.frames || Soak.badStart || Soak.stalled)
        DestroyWindow(window);
}

bool ParseCount(const char *text, uint64_t *value)
{
    if (!text || !*text)
        return false;
    uint64_t result = 0;
    for (const char *c = text; *c; ++c) {
        if (*c == ' ' || *c == '_' || *c == '\'')
            continue;  // "1 310 000" reads as written
        if (*c < '0' || *c > '9' || result > MostFrames)
            return false;
        result = result * 10 + uint64_t(*c - '0');
    }
    *value = result;
    return true;
}

bool ParseOptions(int argc, char **argv, Options *options)
{
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (argument == "--frames") {
            if (!ParseCount(value, &options->frames) || options->frames < 1 || options->frames > MostFrames)
                return false;
            ++i;
        } else if (argument == "--size") {
            int width = 0, height = 0;
            char end = 0;
            if (!value || std::sscanf(value, "%dx%d%c", &width, &height, &end) != 2 || width < 64 ||
                height < 64 || width > 16384 || height > 16384)
                return false;
            options->width = width;
            options->height = height;
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

bool GrewTooMuch(double before, double after) { return after > before * 1.01; }

#ifdef VANTREL_SANITIZED
// The sanitizer holds freed blocks back and keeps shadow memory for what it
// has seen, so resident memory grows for a long while; LeakSanitizer judges
// leaks there instead.
const bool JudgeMemory = false;
#else
const bool JudgeMemory = true;
#endif

std::string Duration(uint64_t ms)
{
    char text[64];
    std::snprintf(text, sizeof text, "%llu h %02llu min", (unsigned long long)(ms / 3'600'000),
                  (unsigned long long)(ms / 60'000 % 60));
    return text;
}

}  // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: soak [--frames N] [--size WIDTHxHEIGHT]\n"
                     "  N from 1 to %llu (default %llu, 24 h at %d ms a frame); size at least 64x64\n",
                     (unsigned long long)MostFrames, (unsigned long long)DefaultFrames, int(FrameTimerPeriodMs));
        return 2;
    }
    Soak.frames = options.frames;
    Soak.rhythmFaults.reserve(20);  // the first ones say enough

    layer::ResetHeadless(options.width, options.height);
    // Paint k comes (k - 1) periods after the first: the counter passes
    // zero halfway.
    const DWORD firstTick = DWORD(0u - DWORD(options.frames / 2 * FrameTimerPeriodMs));
    layer::SetTickCount(firstTick);
    HostState = HostStateRecord{};
    MonitorCovers = MonitorCoverRecord{};
    HostState.instance = GetModuleHandleA(nullptr);
    const int objectsBefore = layer::LiveGdiObjects();
    layer::SetIdleHook(BetweenFrames);

    std::printf("soak: %llu frames of %dx%d, one every %d ms (%s of saver time), default settings\n",
                (unsigned long long)options.frames, options.width, options.height, int(FrameTimerPeriodMs),
                Duration(options.frames * FrameTimerPeriodMs).c_str());
    std::printf("      tick count from %lu, passing zero at frame %llu\n", (unsigned long)firstTick,
                (unsigned long long)(options.frames / 2 + 1));
    std::fflush(stdout);

    const int result = RunSaverWindow(nullptr);
    layer::SetIdleHook(nullptr);
    if (HostState.window && IsWindow(HostState.window))
        DestroyWindow(HostState.window);  // a run cut short
    const int objectsAfter = layer::LiveGdiObjects();

    std::vector<std::string> faults;
    if (result != 0)
        faults.push_back("the saver's loop ended with " + std::to_string(result));
    if (Soak.badStart)
        faults.push_back("the first idle moment came after something other than the first paint");
    if (Soak.overran)
        faults.push_back("frames went on past the end with no idle moment between them");
    if (Soak.stalled)
        faults.push_back("frames stopped at frame " + std::to_string(Soak.paints) + ": the timer no longer fires");
    if (Soak.paints < Soak.frames)
        faults.push_back("only " + std::to_string(Soak.paints) + " frames were painted");

    // Samples are taken at the same moment of the cycle, right after a bomb
    // phase was prepared; the middle one only when a cycle start lies
    // between the start and the end.
    if (Soak.cycleCount >= 3) {
        Quickest endTimes;
        for (uint64_t i = 0; i < std::min<uint64_t>(Soak.cycleCount - 2, TimedCycles); ++i)
            endTimes.Add(Soak.lastCycles[i]);
        struct Row {
            const char *name;
            const Sample *sample;
            const Quickest *times;
        };
        std::vector<Row> rows = {{"start", &Soak.startSample, &Soak.startTimes}};
        if (Soak.haveMiddle)
            rows.push_back({"middle", &Soak.middleSample, &Soak.middleTimes});
        rows.push_back({"end", &Soak.endSample, &endTimes});
        std::printf("\n        %10s %12s %12s %16s %15s %7s\n", "frame", "resident MB", "GDI objects",
                    "ms/frame, cycle", "ms/bomb frame", "cycles");
        for (const Row &row : rows)
            std::printf("%-7s %10llu %12.1f %12d %16.3f %15.3f %7zu\n", row.name,
                        (unsigned long long)row.sample->paint, double(row.sample->residentBytes) / (1 << 20),
                        row.sample->gdiObjects, row.times->cycleFrameMs, row.times->bombFrameMs, row.times->cycles);
        std::printf("(frame times: the quickest of the cycles counted, around each point)\n");
        for (size_t a = 0; a < rows.size(); ++a)
            for (size_t b = a + 1; b < rows.size(); ++b) {
                std::string span = std::string(rows[a].name) + " to " + rows[b].name;
                if (JudgeMemory && GrewTooMuch(double(rows[a].sample->residentBytes),
                                               double(rows[b].sample->residentBytes)))
                    faults.push_back("resident memory grew by more than 1 % from " + span);
                if (GrewTooMuch(rows[a].sample->gdiObjects, rows[b].sample->gdiObjects))
                    faults.push_back("live GDI objects grew by more than 1 % from " + span);
            }
        if (!JudgeMemory)
            std::printf("(sanitized build: resident memory is reported, not judged)\n");
    } else {
        faults.push_back("too few frames: two scene cycles after the first are needed to compare");
    }

    const uint64_t expectedFrames = uint64_t(FrameBudget(SaverSettings.ScreenDelay)) + 1;
    const uint64_t expectedTicks = expectedFrames * FrameTimerPeriodMs;
    if (Soak.wrapPaint)
        std::printf("\nphases: %llu whole ones before the tick count wrapped, %llu after it (it wrapped in the one "
                    "that ended at frame %llu); each should last %llu frames, %llu ms\n",
                    (unsigned long long)Soak.phasesBefore, (unsigned long long)Soak.phasesAfter,
                    (unsigned long long)Soak.wrapPaint, (unsigned long long)expectedFrames,
                    (unsigned long long)expectedTicks);
    else
        std::printf("\nphases: %llu whole ones, the tick count never wrapped between two of their starts; each "
                    "should last %llu frames, %llu ms\n",
                    (unsigned long long)Soak.phasesBefore, (unsigned long long)expectedFrames,
                    (unsigned long long)expectedTicks);
    faults.insert(faults.end(), Soak.rhythmFaults.begin(), Soak.rhythmFaults.end());
    if (Soak.phasesBefore == 0 || Soak.phasesAfter == 0)
        faults.push_back("no whole phase on one side of the wrap (too few frames, or the count never wrapped)");

    std::printf("GDI objects: %d before the window, %d after it\n", objectsBefore, objectsAfter);
    if (objectsAfter != objectsBefore)
        faults.push_back("the window left GDI objects behind");

    for (const std::string &fault : faults)
        std::printf("FAILED: %s\n", fault.c_str());
    std::printf("soak: %s\n", faults.empty() ? "passed" : "failed");
    return faults.empty() ? 0 : 1;
}
