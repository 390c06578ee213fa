#include "backends/x11/translate.h"

#include <X11/X.h>

#include <algorithm>
#include <cstring>

namespace layer {
namespace x11 {

namespace {

// A mask's lowest set bit and its number of bits: where a channel sits.
void MaskShape(unsigned long mask, int *shift, int *bits) {
    *shift = 0;
    *bits = 0;
    if (!mask) return;
    while (!(mask & 1)) {
        mask >>= 1;
        ++*shift;
    }
    while (mask & 1) {
        mask >>= 1;
        ++*bits;
    }
}

// A channel of 8 bits placed into a mask of any width: the top bits when the
// mask is narrower, the value repeated into the low bits when it is wider,
// so white stays white either way.
unsigned long PlaceChannel(unsigned int value, int shift, int bits) {
    unsigned long v;
    if (bits <= 8) {
        v = value >> (8 - bits);
    } else {
        v = 0;
        int filled = 0;
        while (filled < bits) {
            int take = std::min(8, bits - filled);
            v = (v << take) | (value >> (8 - take));
            filled += take;
        }
    }
    return v << shift;
}

}  // namespace

PointerButton TranslateButton(unsigned int button) {
    switch (button) {
    case 1: return {PointerAction::Left, 0};
    case 2: return {PointerAction::Middle, 0};
    case 3: return {PointerAction::Right, 0};
    case 4: return {PointerAction::Wheel, WHEEL_DELTA};
    case 5: return {PointerAction::Wheel, -WHEEL_DELTA};
    case 6: return {PointerAction::HorizontalWheel, -WHEEL_DELTA};
    case 7: return {PointerAction::HorizontalWheel, WHEEL_DELTA};
    }
    return {PointerAction::Ignored, 0};
}

bool FocusChosenForWindow(int mode, int detail) {
    if (mode != NotifyNormal && mode != NotifyWhileGrabbed) return false;
    return detail == NotifyAncestor || detail == NotifyVirtual || detail == NotifyNonlinear ||
           detail == NotifyNonlinearVirtual;
}

bool LayoutSupported(const PixelLayout &layout) {
    if (layout.bitsPerPixel != 16 && layout.bitsPerPixel != 24 && layout.bitsPerPixel != 32) return false;
    unsigned long masks[] = {layout.redMask, layout.greenMask, layout.blueMask};
    unsigned long all = 0;
    for (unsigned long mask : masks) {
        int shift, bits;
        MaskShape(mask, &shift, &bits);
        // Each channel one run of bits, none overlapping, all inside a pixel.
        if (!bits || (mask >> shift) != (1ul << bits) - 1 || (all & mask)) return false;
        if (shift + bits > layout.bitsPerPixel) return false;
        all |= mask;
    }
    return true;
}

bool LayoutIsNative(const PixelLayout &layout) {
    const uint32_t probe = 1;
    bool hostMsbFirst = *reinterpret_cast<const uint8_t *>(&probe) == 0;
    return layout.bitsPerPixel == 32 && layout.redMask == 0xFF0000 && layout.greenMask == 0x00FF00 &&
           layout.blueMask == 0x0000FF && layout.msbFirst == hostMsbFirst;
}

void ConvertRow(const uint32_t *pixels, int count, const PixelLayout &layout, uint8_t *out) {
    if (LayoutIsNative(layout)) {
        std::memcpy(out, pixels, (size_t)count * 4);
        return;
    }
    int rs, rb, gs, gb, bs, bb;
    MaskShape(layout.redMask, &rs, &rb);
    MaskShape(layout.greenMask, &gs, &gb);
    MaskShape(layout.blueMask, &bs, &bb);
    int bytes = layout.bitsPerPixel / 8;
    for (int i = 0; i < count; ++i) {
        uint32_t c = pixels[i];
        unsigned long v = PlaceChannel((c >> 16) & 0xFF, rs, rb) | PlaceChannel((c >> 8) & 0xFF, gs, gb) |
                          PlaceChannel(c & 0xFF, bs, bb);
        uint8_t *p = out + (size_t)i * (size_t)bytes;
        for (int b = 0; b < bytes; ++b) {
            int byteIndex = layout.msbFirst ? bytes - 1 - b : b;
            p[byteIndex] = (uint8_t)(v >> (8 * b));
        }
    }
}

}  // namespace x11
}  // namespace layer
