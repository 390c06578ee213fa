// Memory asked for before it is used, for the layer's copies and the
// display backends alike. Frames touch short spans of many rows, and between
// frames most of it leaves the cache; the same columns a few rows down are
// what comes next, so their lines are asked for while this row is worked on.
#ifndef VANTREL_PLATFORM_GDI_FETCH_AHEAD_H
#define VANTREL_PLATFORM_GDI_FETCH_AHEAD_H

#include <cstddef>
#include <cstdint>

namespace layer {

constexpr size_t kCacheLine = 64;

// Far enough on for the lines to come from memory in time, near enough
// for them to be in the cache still when their row comes.
constexpr int kRowsAhead = 4;

// Asks for every cache line [p, p + n) touches, counted from the line `p`
// falls in: a short span that crosses the end of a line needs both.
// Always inlined: to the compiler a prefetch changes nothing, so a function
// of prefetches alone looks like one without effects, and GCC 12 dropped
// every call to it, silently (the benchmark's cold frames then took 1.7
// times as long). bench/prefetches_kept.sh checks the built program.
__attribute__((always_inline)) inline void PrefetchSpan(const void *p, size_t n, bool forWriting = false) {
    if (n == 0) return;
    const uintptr_t last = reinterpret_cast<uintptr_t>(p) + n - 1;
    for (uintptr_t line = reinterpret_cast<uintptr_t>(p) & ~uintptr_t{kCacheLine - 1}; line <= last;
         line += kCacheLine) {
        if (forWriting) __builtin_prefetch(reinterpret_cast<const void *>(line), 1);
        else __builtin_prefetch(reinterpret_cast<const void *>(line), 0);
    }
}

}  // namespace layer

#endif
