#include "backends/clip.h"

#include <algorithm>

namespace layer {

bool ClipToSurface(const RECT &dirty, int width, int height, RECT *clipped) {
    RECT r;
    r.left = std::max<LONG>(dirty.left, 0);
    r.top = std::max<LONG>(dirty.top, 0);
    r.right = std::min<LONG>(dirty.right, std::max(width, 0));
    r.bottom = std::min<LONG>(dirty.bottom, std::max(height, 0));
    if (r.left >= r.right || r.top >= r.bottom) {
        *clipped = {0, 0, 0, 0};
        return false;
    }
    *clipped = r;
    return true;
}

}  // namespace layer
