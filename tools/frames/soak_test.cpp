// The long run: the saver at ScreenDelay 1 for many thousands of phase
// changes on the virtual clock. Each phase change must leave the GDI object
// count where it was and the heap no bigger than a small margin, or a long
// night in front of the screen would end in exhausted GDI or memory.
//
//   soak_test [FRAMES]     (or $VANTREL_SOAK_FRAMES; default 200000)
#include <layer_hooks.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/engine.h"
#include "frames.h"

namespace {

#if defined(VANTREL_SANITIZED)
// Sanitizers make every frame several times slower and keep freed memory
// in quarantine, so the heap figure says nothing there.
const long DefaultFrames = 10000;
const bool MeasureHeap = false;
#else
const long DefaultFrames = 200000;
const bool MeasureHeap = true;
#endif

// Generous for allocator noise, far below one lost screen buffer (75 KB).
const long HeapGrowthLimit = 64 * 1024;

long HeapInUse() { return MeasureHeap ? static_cast<long>(mallinfo2().uordblks) : 0; }

}  // namespace

int main(int argc, char **argv)
{
    long frames = DefaultFrames;
    const char *fromEnvironment = std::getenv("VANTREL_SOAK_FRAMES");
    const char *text = argc > 1 ? argv[1] : fromEnvironment;
    if (text) {
        char *end = nullptr;
        frames = std::strtol(text, &end, 10);
        if (!*text || *end || frames < 1) {
            std::fprintf(stderr, "soak_test: the frame count must be a positive number, not '%s'\n", text);
            return 2;
        }
    }

    frames::Options options;
    options.width = 320;
    options.height = 240;
    options.frames = frames;
    options.settings = {{"ScreenDelay", 1}};

    layer::ResetHeadless(options.width, options.height);
    const int gdiBefore = layer::LiveGdiObjects();

    long phaseChanges = 0, failures = 0;
    int gdiAtChange = -1;
    long heapBaseline = -1, heapHighest = 0;
    ScenePhase lastPhase = Bombs;
    auto started = std::chrono::steady_clock::now();
    int result = frames::RunSaver(options, [&](long frame, HWND) {
        if (SceneState.phase == lastPhase)
            return;
        lastPhase = SceneState.phase;
        ++phaseChanges;
        int gdi = layer::LiveGdiObjects();
        if (gdiAtChange < 0)
            gdiAtChange = gdi;
        else if (gdi != gdiAtChange && failures++ < 10)
            std::fprintf(stderr, "soak_test: frame %ld: %d GDI objects alive at a phase change, not %d\n", frame, gdi,
                         gdiAtChange);
        long heap = HeapInUse();
        // The first round trip settles the layer's tables; from then on the
        // heap must stay put.
        if (phaseChanges == 2)
            heapBaseline = heap;
        if (heapBaseline >= 0) {
            heapHighest = std::max(heapHighest, heap);
            if (heap - heapBaseline > HeapGrowthLimit && failures++ < 10)
                std::fprintf(stderr, "soak_test: frame %ld: the heap grew by %ld bytes since the first round trip\n", frame,
                             heap - heapBaseline);
        }
    });
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    const int gdiAfter = layer::LiveGdiObjects();
    if (result != 0) {
        std::fprintf(stderr, "soak_test: the saver returned %d\n", result);
        ++failures;
    }
    if (gdiAfter != gdiBefore) {
        std::fprintf(stderr, "soak_test: %d GDI objects alive after the saver closed, %d before\n", gdiAfter,
                     gdiBefore);
        ++failures;
    }
    // Each phase lasts 79 paints at ScreenDelay 1.
    if (phaseChanges != frames / 79) {
        std::fprintf(stderr, "soak_test: %ld phase changes in %ld frames, expected %ld\n", phaseChanges, frames,
                     frames / 79);
        ++failures;
    }
    std::printf("soak_test: %ld frames, %ld phase changes in %.1f s; %d GDI objects at each change", frames,
                phaseChanges, seconds, gdiAtChange);
    if (MeasureHeap)
        std::printf("; heap %ld bytes after the first round trip, at most %ld later", heapBaseline, heapHighest);
    std::printf("\n%s\n", failures ? "FAILED" : "passed");
    return failures ? 1 : 0;
}
