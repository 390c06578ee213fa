// The part of a window's surface a presentation covers, as both display
// backends work it out before they copy pixels. Kept apart so that tests
// need no display.
#ifndef VANTREL_PLATFORM_BACKENDS_CLIP_H
#define VANTREL_PLATFORM_BACKENDS_CLIP_H

#include <windows.h>

namespace layer {

// `dirty` cut down to a surface of width x height; false (and an empty
// rectangle) when nothing of it is on the surface.
bool ClipToSurface(const RECT &dirty, int width, int height, RECT *clipped);

}  // namespace layer

#endif
