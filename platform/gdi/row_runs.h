// Rectangles as the runs of columns they cover, row by row: for copies
// that must touch each pixel once however the rectangles overlap.
#ifndef VANTREL_PLATFORM_ROW_RUNS_H
#define VANTREL_PLATFORM_ROW_RUNS_H

#include <windows.h>

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

namespace layer {

// Rows of rectangles as runs, from the top row down: `run(y, spans)` for each
// row, with the columns the rectangles cover there as [left, right) pairs,
// each column once, left to right (a bomb's place before and after a frame
// overlap nearly whole). Which rectangles cover a row changes only where one
// begins or ends, so the runs are worked out once for each stretch of rows
// between two such edges, from the rectangles kept in order of their left
// sides. `rects` is put in order of their tops.
template <typename Run>
void ForEachRowRun(std::vector<RECT> &rects, Run run) {
    if (rects.empty()) return;
    std::sort(rects.begin(), rects.end(), [](const RECT &a, const RECT &b) { return a.top < b.top; });
    static std::vector<RECT> active;
    static std::vector<std::pair<LONG, LONG>> spans;
    active.clear();
    size_t next = 0;
    LONG y = rects[0].top;
    while (next < rects.size() || !active.empty()) {
        if (active.empty()) y = std::max(y, rects[next].top);
        for (; next < rects.size() && rects[next].top <= y; ++next) {
            auto at = std::upper_bound(active.begin(), active.end(), rects[next].left,
                                       [](LONG left, const RECT &a) { return left < a.left; });
            active.insert(at, rects[next]);
        }
        LONG until = next < rects.size() ? rects[next].top : std::numeric_limits<LONG>::max();
        spans.clear();
        for (const RECT &a : active) {
            until = std::min(until, a.bottom);
            if (!spans.empty() && a.left <= spans.back().second) spans.back().second = std::max(spans.back().second, a.right);
            else spans.emplace_back(a.left, a.right);
        }
        for (; y < until; ++y) run(y, spans);
        active.erase(std::remove_if(active.begin(), active.end(), [y](const RECT &a) { return a.bottom <= y; }),
                     active.end());
    }
}

}  // namespace layer

#endif
