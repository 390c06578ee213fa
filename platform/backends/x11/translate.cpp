#include "backends/x11/translate.h"

#include <X11/X.h>
#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstring>

namespace layer {
namespace x11 {

namespace {

// Virtual keys the program itself never names, with the system's values.
enum : UINT {
    kVkClear = 0x0C,
    kVkPause = 0x13,
    kVkCapital = 0x14,
    kVkSelect = 0x29,
    kVkPrint = 0x2A,
    kVkExecute = 0x2B,
    kVkSnapshot = 0x2C,
    kVkInsert = 0x2D,
    kVkHelp = 0x2F,
    kVkLeftWin = 0x5B,
    kVkRightWin = 0x5C,
    kVkApps = 0x5D,
    kVkSleep = 0x5F,
    kVkNumpad0 = 0x60,
    kVkMultiply = 0x6A,
    kVkAdd = 0x6B,
    kVkSeparator = 0x6C,
    kVkSubtract = 0x6D,
    kVkDecimal = 0x6E,
    kVkDivide = 0x6F,
    kVkNumLock = 0x90,
    kVkScroll = 0x91,
    kVkBrowserBack = 0xA6,
    kVkBrowserForward = 0xA7,
    kVkBrowserRefresh = 0xA8,
    kVkBrowserStop = 0xA9,
    kVkBrowserSearch = 0xAA,
    kVkBrowserFavorites = 0xAB,
    kVkBrowserHome = 0xAC,
    kVkVolumeMute = 0xAD,
    kVkVolumeDown = 0xAE,
    kVkVolumeUp = 0xAF,
    kVkMediaNext = 0xB0,
    kVkMediaPrevious = 0xB1,
    kVkMediaStop = 0xB2,
    kVkMediaPlayPause = 0xB3,
    kVkLaunchMail = 0xB4,
    kVkOem1 = 0xBA,       // ;:
    kVkOemPlus = 0xBB,    // =+
    kVkOemComma = 0xBC,   // ,<
    kVkOemMinus = 0xBD,   // -_
    kVkOemPeriod = 0xBE,  // .>
    kVkOem2 = 0xBF,       // /?
    kVkOem3 = 0xC0,       // `~
    kVkOem4 = 0xDB,       // [{
    kVkOem5 = 0xDC,       // backslash |
    kVkOem6 = 0xDD,       // ]}
    kVkOem7 = 0xDE,       // '"
    kVkOem102 = 0xE2,     // the extra key of ISO keyboards
    kVkNoMapping = 0xFF,
};

struct KeyEntry {
    unsigned long keysym;
    UINT vk;
};

const KeyEntry kKeys[] = {
    {XK_BackSpace, VK_BACK},
    {XK_Tab, VK_TAB},
    {XK_ISO_Left_Tab, VK_TAB},  // Shift+Tab on most layouts
    {XK_Clear, kVkClear},
    {XK_Return, VK_RETURN},
    {XK_KP_Enter, VK_RETURN},
    {XK_Pause, kVkPause},
    {XK_Break, kVkPause},
    {XK_Scroll_Lock, kVkScroll},
    {XK_Sys_Req, kVkSnapshot},
    {XK_Print, kVkSnapshot},
    {XK_Escape, VK_ESCAPE},
    {XK_Delete, VK_DELETE},
    {XK_Home, VK_HOME},
    {XK_Left, VK_LEFT},
    {XK_Up, VK_UP},
    {XK_Right, VK_RIGHT},
    {XK_Down, VK_DOWN},
    {XK_Prior, VK_PRIOR},
    {XK_Next, VK_NEXT},
    {XK_End, VK_END},
    {XK_Begin, kVkClear},
    {XK_Select, kVkSelect},
    {XK_Execute, kVkExecute},
    {XK_Insert, kVkInsert},
    {XK_Menu, kVkApps},
    {XK_Help, kVkHelp},
    {XK_Num_Lock, kVkNumLock},
    {XK_Caps_Lock, kVkCapital},
    {XK_Shift_L, VK_SHIFT},
    {XK_Shift_R, VK_SHIFT},
    {XK_Control_L, VK_CONTROL},
    {XK_Control_R, VK_CONTROL},
    {XK_Alt_L, VK_MENU},
    {XK_Alt_R, VK_MENU},
    {XK_Meta_L, VK_MENU},
    {XK_Meta_R, VK_MENU},
    {XK_ISO_Level3_Shift, VK_MENU},  // AltGr
    {XK_Super_L, kVkLeftWin},
    {XK_Super_R, kVkRightWin},
    {XK_space, VK_SPACE},
    {XK_KP_Space, VK_SPACE},
    {XK_KP_Tab, VK_TAB},
    {XK_KP_Home, VK_HOME},
    {XK_KP_Left, VK_LEFT},
    {XK_KP_Up, VK_UP},
    {XK_KP_Right, VK_RIGHT},
    {XK_KP_Down, VK_DOWN},
    {XK_KP_Prior, VK_PRIOR},
    {XK_KP_Next, VK_NEXT},
    {XK_KP_End, VK_END},
    {XK_KP_Begin, kVkClear},
    {XK_KP_Insert, kVkInsert},
    {XK_KP_Delete, VK_DELETE},
    {XK_KP_Multiply, kVkMultiply},
    {XK_KP_Add, kVkAdd},
    {XK_KP_Separator, kVkSeparator},
    {XK_KP_Subtract, kVkSubtract},
    {XK_KP_Decimal, kVkDecimal},
    {XK_KP_Divide, kVkDivide},
    {XK_semicolon, kVkOem1},
    {XK_equal, kVkOemPlus},
    {XK_plus, kVkOemPlus},
    {XK_comma, kVkOemComma},
    {XK_minus, kVkOemMinus},
    {XK_period, kVkOemPeriod},
    {XK_slash, kVkOem2},
    {XK_grave, kVkOem3},
    {XK_dead_grave, kVkOem3},
    {XK_bracketleft, kVkOem4},
    {XK_backslash, kVkOem5},
    {XK_bracketright, kVkOem6},
    {XK_apostrophe, kVkOem7},
    {XK_dead_acute, kVkOem7},
    {XK_less, kVkOem102},
    {XF86XK_Back, kVkBrowserBack},
    {XF86XK_Forward, kVkBrowserForward},
    {XF86XK_Refresh, kVkBrowserRefresh},
    {XF86XK_Stop, kVkBrowserStop},
    {XF86XK_Search, kVkBrowserSearch},
    {XF86XK_Favorites, kVkBrowserFavorites},
    {XF86XK_HomePage, kVkBrowserHome},
    {XF86XK_AudioMute, kVkVolumeMute},
    {XF86XK_AudioLowerVolume, kVkVolumeDown},
    {XF86XK_AudioRaiseVolume, kVkVolumeUp},
    {XF86XK_AudioNext, kVkMediaNext},
    {XF86XK_AudioPrev, kVkMediaPrevious},
    {XF86XK_AudioStop, kVkMediaStop},
    {XF86XK_AudioPlay, kVkMediaPlayPause},
    {XF86XK_AudioPause, kVkMediaPlayPause},
    {XF86XK_Mail, kVkLaunchMail},
    {XF86XK_Sleep, kVkSleep},
};

bool IsKeypadDigit(unsigned long keysym) {
    return (keysym >= XK_KP_0 && keysym <= XK_KP_9) || keysym == XK_KP_Decimal;
}

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

UINT VirtualKeyForKeysyms(unsigned long unshifted, unsigned long shifted, bool numLock) {
    // With Num Lock on, the keypad types digits; the second level holds them.
    if (numLock && IsKeypadDigit(shifted)) unshifted = shifted;
    if (unshifted >= XK_KP_0 && unshifted <= XK_KP_9) return kVkNumpad0 + (UINT)(unshifted - XK_KP_0);
    if (unshifted >= XK_a && unshifted <= XK_z) return 'A' + (UINT)(unshifted - XK_a);
    if (unshifted >= XK_A && unshifted <= XK_Z) return (UINT)unshifted;
    if (unshifted >= XK_0 && unshifted <= XK_9) return (UINT)unshifted;
    if (unshifted >= XK_F1 && unshifted <= XK_F24) return VK_F1 + (UINT)(unshifted - XK_F1);
    for (const KeyEntry &entry : kKeys)
        if (entry.keysym == unshifted) return entry.vk;
    // Layouts whose unshifted level holds a symbol of the table only when
    // shifted (a digit row of symbols, say) are placed by their second level.
    if (shifted >= XK_0 && shifted <= XK_9) return (UINT)shifted;
    for (const KeyEntry &entry : kKeys)
        if (entry.keysym == shifted) return entry.vk;
    return kVkNoMapping;
}

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
