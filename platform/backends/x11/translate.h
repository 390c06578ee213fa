// What the X11 backend translates without talking to a server: pointer
// buttons into buttons and wheel turns, focus reports into activations, and
// 0x00RRGGBB pixels into the layout of the server's images. Kept apart so
// that tests need no display. Keys and the clipping of dirty rectangles are
// the Wayland backend's too: backends/keys.h, backends/clip.h.
#ifndef VANTREL_PLATFORM_X11_TRANSLATE_H
#define VANTREL_PLATFORM_X11_TRANSLATE_H

#include <windows.h>

#include <cstdint>

namespace layer {
namespace x11 {

// What a press of X pointer button `button` means.
enum class PointerAction { Ignored, Left, Middle, Right, Wheel, HorizontalWheel };
struct PointerButton {
    PointerAction action;
    int wheelDelta;  // for the wheels: +-WHEEL_DELTA, positive away from the user or to the right
};
PointerButton TranslateButton(unsigned int button);

// Whether a FocusIn event of `mode` and `detail` means the window (or one
// inside it) now has the keyboard by someone's choice: not a grab coming or
// going, not focus moving up from inside it, and not the pointer's window
// while the focus follows the pointer.
bool FocusChosenForWindow(int mode, int detail);

// How a server image stores one pixel: TrueColor with the channel masks of
// its visual, 16, 24 or 32 bits per pixel, in the image's byte order.
struct PixelLayout {
    int bitsPerPixel = 32;
    unsigned long redMask = 0xFF0000;
    unsigned long greenMask = 0x00FF00;
    unsigned long blueMask = 0x0000FF;
    bool msbFirst = false;
};
bool LayoutSupported(const PixelLayout &layout);
// True when the image's pixels are the layer's 0x00RRGGBB words as they lie
// in this machine's memory: rows are then copied, not converted.
bool LayoutIsNative(const PixelLayout &layout);
// Writes `count` pixels into `out`, bitsPerPixel / 8 bytes each.
void ConvertRow(const uint32_t *pixels, int count, const PixelLayout &layout, uint8_t *out);

}  // namespace x11
}  // namespace layer

#endif
