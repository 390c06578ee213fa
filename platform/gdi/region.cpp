#include "gdi/region.h"

#include <algorithm>

namespace layer {

bool RectIsEmpty(const RECT &r) { return r.left >= r.right || r.top >= r.bottom; }

RECT RectIntersection(const RECT &a, const RECT &b) {
    RECT r = {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
    if (RectIsEmpty(r)) r = {0, 0, 0, 0};
    return r;
}

RECT RectUnion(const RECT &a, const RECT &b) {
    if (RectIsEmpty(a)) return b;
    if (RectIsEmpty(b)) return a;
    return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
            std::max(a.bottom, b.bottom)};
}

bool RectContains(const RECT &r, int x, int y) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; }

// The parts of `r` outside `cut`: up to four bands.
static void SubtractInto(const RECT &r, const RECT &cut, std::vector<RECT> &out) {
    RECT i = RectIntersection(r, cut);
    if (RectIsEmpty(i)) {
        out.push_back(r);
        return;
    }
    if (r.top < i.top) out.push_back({r.left, r.top, r.right, i.top});
    if (i.bottom < r.bottom) out.push_back({r.left, i.bottom, r.right, r.bottom});
    if (r.left < i.left) out.push_back({r.left, i.top, i.left, i.bottom});
    if (i.right < r.right) out.push_back({i.right, i.top, r.right, i.bottom});
}

void Region::Add(const RECT &r) {
    if (RectIsEmpty(r)) return;
    // Keep the rectangles disjoint: add only what is not covered yet.
    std::vector<RECT> pieces{r};
    for (const RECT &have : rects_) {
        std::vector<RECT> next;
        for (const RECT &p : pieces) SubtractInto(p, have, next);
        pieces.swap(next);
        if (pieces.empty()) return;
    }
    rects_.insert(rects_.end(), pieces.begin(), pieces.end());
    // An update region that keeps growing in pieces is almost always about to
    // cover everything; collapse it before it becomes expensive.
    if (rects_.size() > 64) {
        RECT b = Bounds();
        rects_.assign(1, b);
    }
}

void Region::Subtract(const RECT &r) {
    if (RectIsEmpty(r)) return;
    std::vector<RECT> next;
    for (const RECT &have : rects_) SubtractInto(have, r, next);
    rects_.swap(next);
}

void Region::ClipTo(const RECT &r) {
    std::vector<RECT> next;
    for (const RECT &have : rects_) {
        RECT i = RectIntersection(have, r);
        if (!RectIsEmpty(i)) next.push_back(i);
    }
    rects_.swap(next);
}

void Region::Offset(int dx, int dy) {
    for (RECT &r : rects_) {
        r.left += dx;
        r.right += dx;
        r.top += dy;
        r.bottom += dy;
    }
}

RECT Region::Bounds() const {
    RECT b = {0, 0, 0, 0};
    for (const RECT &r : rects_) b = RectUnion(b, r);
    return b;
}

}  // namespace layer
