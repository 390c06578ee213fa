// What the Wayland backend knows of a compositor's outputs, and the sums it
// does with it, kept apart from the connection so that tests need no
// compositor: how many pixels an output really has, which one is the
// primary, where each lies on the layer's screen, and how a position on a
// surface becomes a position there.
//
// Wayland has no global pixel grid; xdg-output gives each output a place and
// a size in the compositor's logical space, and an output of scale 2 shows
// two device pixels per logical one. The layer's screen is in device pixels:
// the primary output's at 0,0, the others where their logical places put
// them, counted in the primary's device pixels, with their own device sizes.
#ifndef VANTREL_PLATFORM_WAYLAND_OUTPUTS_H
#define VANTREL_PLATFORM_WAYLAND_OUTPUTS_H

#include <cstdint>
#include <string>
#include <vector>

#include "backends/backend.h"

namespace layer {
namespace wayland {

struct OutputInfo {
    uint32_t global = 0;  // its name in the registry
    std::string name;     // "DP-1", "HEADLESS-2": from wl_output v4 or xdg-output v2
    bool ready = false;   // a first wl_output.done (or xdg_output.done) has come
    // Logical place and size, from xdg-output; without it, the place from
    // wl_output.geometry and the size from the mode and scale.
    int x = 0;
    int y = 0;
    int logicalWidth = 0;
    int logicalHeight = 0;
    bool logicalKnown = false;
    int modeWidth = 0;    // the current mode, before the output's transform
    int modeHeight = 0;
    int transform = 0;    // wl_output.transform; odd values turn it a quarter
    int scale = 1;        // wl_output.scale: device pixels per logical one
};

// The output's size in device pixels, as it stands on the screen: its
// mode turned by its transform, else the logical size times the scale.
// Never below 1x1. (With a fractional scale the mode is what the panel has;
// the logical size times the whole scale the compositor rounds up to is not.)
void DeviceSize(const OutputInfo &output, int *width, int *height);

// The logical size, the mode divided by the scale (turned) when xdg-output
// has not said.
void LogicalSize(const OutputInfo &output, int *width, int *height);

// Which of the ready outputs is the primary one: the one at the logical
// origin, else the first announced. -1 when none is ready.
int PrimaryOutput(const std::vector<OutputInfo> &outputs);

// The ready output named `name` (case matters, as compositors spell them),
// or -1.
int OutputNamed(const std::vector<OutputInfo> &outputs, const std::string &name);

// The monitors of the screen, the primary first, as described above. With
// `confinedTo` >= 0, that output alone, as the whole screen at 0,0.
std::vector<Monitor> MonitorsOf(const std::vector<OutputInfo> &outputs, int confinedTo);

// A point on a surface of `logicalWidth` x `logicalHeight` (surface
// coordinates, as pointer events give them) that shows `pixelWidth` x
// `pixelHeight` device pixels, in those device pixels, rounded down and
// kept on the surface.
void SurfaceToPixels(double sx, double sy, int logicalWidth, int logicalHeight, int pixelWidth, int pixelHeight,
                     int *px, int *py);

}  // namespace wayland
}  // namespace layer

#endif
