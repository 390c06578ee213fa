// What both display backends make of keys: X key symbols (xkbcommon's on
// Wayland) into the virtual keys Windows reports.
#include <X11/XF86keysym.h>
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include "platform/backends/keys.h"

using layer::VirtualKeyForKeysyms;

namespace {

// A key with the same symbol on both levels is how most non-letter keys look.
UINT Key(unsigned long keysym) { return VirtualKeyForKeysyms(keysym, keysym, false); }

}  // namespace

TEST(KeysTest, LettersAndDigitsAreTheirCharactersWhateverTheShiftLevel) {
    EXPECT_EQ((UINT)'A', VirtualKeyForKeysyms(XK_a, XK_A, false));
    EXPECT_EQ((UINT)'Z', VirtualKeyForKeysyms(XK_z, XK_Z, false));
    // Caps Lock can leave the capital in the first level.
    EXPECT_EQ((UINT)'Q', VirtualKeyForKeysyms(XK_Q, XK_Q, false));
    EXPECT_EQ((UINT)'0', VirtualKeyForKeysyms(XK_0, XK_parenright, false));
    EXPECT_EQ((UINT)'7', VirtualKeyForKeysyms(XK_7, XK_ampersand, false));
    // A layout whose digit row types symbols unshifted still reports digits.
    EXPECT_EQ((UINT)'2', VirtualKeyForKeysyms(XK_eacute, XK_2, false));
}

TEST(KeysTest, KeysTheSaverAndDialogsUseHaveTheirVirtualKeys) {
    EXPECT_EQ((UINT)VK_ESCAPE, Key(XK_Escape));
    EXPECT_EQ((UINT)VK_RETURN, Key(XK_Return));
    EXPECT_EQ((UINT)VK_RETURN, Key(XK_KP_Enter));
    EXPECT_EQ((UINT)VK_TAB, Key(XK_Tab));
    EXPECT_EQ((UINT)VK_TAB, VirtualKeyForKeysyms(XK_Tab, XK_ISO_Left_Tab, false));
    EXPECT_EQ((UINT)VK_TAB, Key(XK_ISO_Left_Tab));
    EXPECT_EQ((UINT)VK_SPACE, Key(XK_space));
    EXPECT_EQ((UINT)VK_BACK, Key(XK_BackSpace));
    EXPECT_EQ((UINT)VK_DELETE, Key(XK_Delete));
    EXPECT_EQ((UINT)VK_LEFT, Key(XK_Left));
    EXPECT_EQ((UINT)VK_UP, Key(XK_Up));
    EXPECT_EQ((UINT)VK_RIGHT, Key(XK_Right));
    EXPECT_EQ((UINT)VK_DOWN, Key(XK_Down));
    EXPECT_EQ((UINT)VK_HOME, Key(XK_Home));
    EXPECT_EQ((UINT)VK_END, Key(XK_End));
    EXPECT_EQ((UINT)VK_PRIOR, Key(XK_Prior));
    EXPECT_EQ((UINT)VK_NEXT, Key(XK_Next));
}

TEST(KeysTest, ModifiersReportTheGenericKeyOfEitherSide) {
    EXPECT_EQ((UINT)VK_SHIFT, Key(XK_Shift_L));
    EXPECT_EQ((UINT)VK_SHIFT, Key(XK_Shift_R));
    EXPECT_EQ((UINT)VK_CONTROL, Key(XK_Control_L));
    EXPECT_EQ((UINT)VK_CONTROL, Key(XK_Control_R));
    EXPECT_EQ((UINT)VK_MENU, Key(XK_Alt_L));
    EXPECT_EQ((UINT)VK_MENU, Key(XK_Alt_R));
    // Alt sends Meta on some layouts when shifted.
    EXPECT_EQ((UINT)VK_MENU, VirtualKeyForKeysyms(XK_Alt_L, XK_Meta_L, false));
}

TEST(KeysTest, FunctionKeysRunOnFromF1) {
    EXPECT_EQ((UINT)VK_F1, Key(XK_F1));
    EXPECT_EQ((UINT)VK_F4, Key(XK_F4));
    EXPECT_EQ((UINT)VK_F10, Key(XK_F10));
    EXPECT_EQ(0x87u, Key(XK_F24));
}

TEST(KeysTest, KeypadFollowsNumLock) {
    // Num Lock on: digits (VK_NUMPAD7); off: the navigation key on the cap.
    EXPECT_EQ(0x67u, VirtualKeyForKeysyms(XK_KP_Home, XK_KP_7, true));
    EXPECT_EQ((UINT)VK_HOME, VirtualKeyForKeysyms(XK_KP_Home, XK_KP_7, false));
    EXPECT_EQ(0x60u, VirtualKeyForKeysyms(XK_KP_Insert, XK_KP_0, true));
    EXPECT_EQ((UINT)VK_DELETE, VirtualKeyForKeysyms(XK_KP_Delete, XK_KP_Decimal, false));
    EXPECT_EQ(0x6Eu, VirtualKeyForKeysyms(XK_KP_Delete, XK_KP_Decimal, true));
    // Operators do not depend on it.
    EXPECT_EQ(0x6Bu, VirtualKeyForKeysyms(XK_KP_Add, XK_KP_Add, true));
    EXPECT_EQ(0x6Bu, VirtualKeyForKeysyms(XK_KP_Add, XK_KP_Add, false));
}

TEST(KeysTest, PunctuationAndMediaKeysHaveTheSystemsCodes) {
    EXPECT_EQ(0xBAu, VirtualKeyForKeysyms(XK_semicolon, XK_colon, false));
    EXPECT_EQ(0xBCu, VirtualKeyForKeysyms(XK_comma, XK_less, false));
    EXPECT_EQ(0xBDu, VirtualKeyForKeysyms(XK_minus, XK_underscore, false));
    EXPECT_EQ(0xBFu, VirtualKeyForKeysyms(XK_slash, XK_question, false));
    EXPECT_EQ(0xC0u, VirtualKeyForKeysyms(XK_grave, XK_asciitilde, false));
    EXPECT_EQ(0xDEu, VirtualKeyForKeysyms(XK_apostrophe, XK_quotedbl, false));
    EXPECT_EQ(0x2Du, Key(XK_Insert));
    EXPECT_EQ(0x14u, Key(XK_Caps_Lock));
    EXPECT_EQ(0x5Bu, Key(XK_Super_L));
    EXPECT_EQ(0xAFu, Key(XF86XK_AudioRaiseVolume));
}

TEST(KeysTest, KeysWithoutACodeStillArriveAsKeys) {
    // A key the system has no code for is still a key press: it must reach
    // the program (and close the saver) rather than vanish.
    EXPECT_EQ(0xFFu, VirtualKeyForKeysyms(XK_adiaeresis, XK_Adiaeresis, false));
    EXPECT_EQ(0xFFu, Key(0));  // NoSymbol
}
