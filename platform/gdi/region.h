// A set of pixels as disjoint rectangles: update regions and clipping.
// Small by nature (a handful of rectangles), so plain vectors do.
#ifndef VANTREL_PLATFORM_REGION_H
#define VANTREL_PLATFORM_REGION_H

#include <windows.h>

#include <vector>

namespace layer {

bool RectIsEmpty(const RECT &r);
RECT RectIntersection(const RECT &a, const RECT &b);
RECT RectUnion(const RECT &a, const RECT &b);
bool RectContains(const RECT &r, int x, int y);

class Region {
public:
    bool Empty() const { return rects_.empty(); }
    void Clear() { rects_.clear(); }
    void Add(const RECT &r);
    void Subtract(const RECT &r);
    void ClipTo(const RECT &r);
    void Offset(int dx, int dy);
    RECT Bounds() const;
    const std::vector<RECT> &Rects() const { return rects_; }

private:
    std::vector<RECT> rects_;
};

}  // namespace layer

#endif
