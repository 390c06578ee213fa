#include "backends/keys.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>

namespace layer {

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

}  // namespace layer
