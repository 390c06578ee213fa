// What the X11 backend makes of keys, pointer buttons, focus reports, the
// part of a window to show again, and pixels on their way into the server's
// image formats.
#include <X11/XF86keysym.h>
#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/backends/x11/translate.h"

// After GoogleTest: X.h defines None, a name GoogleTest uses.
#include <X11/X.h>

using namespace layer::x11;

namespace {

std::string Show(const RECT &r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// A key with the same symbol on both levels is how most non-letter keys look.
UINT Key(unsigned long keysym) { return VirtualKeyForKeysyms(keysym, keysym, false); }

}  // namespace

TEST(X11KeysTest, LettersAndDigitsAreTheirCharactersWhateverTheShiftLevel) {
    EXPECT_EQ((UINT)'A', VirtualKeyForKeysyms(XK_a, XK_A, false));
    EXPECT_EQ((UINT)'Z', VirtualKeyForKeysyms(XK_z, XK_Z, false));
    // Caps Lock can leave the capital in the first level.
    EXPECT_EQ((UINT)'Q', VirtualKeyForKeysyms(XK_Q, XK_Q, false));
    EXPECT_EQ((UINT)'0', VirtualKeyForKeysyms(XK_0, XK_parenright, false));
    EXPECT_EQ((UINT)'7', VirtualKeyForKeysyms(XK_7, XK_ampersand, false));
    // A layout whose digit row types symbols unshifted still reports digits.
    EXPECT_EQ((UINT)'2', VirtualKeyForKeysyms(XK_eacute, XK_2, false));
}

TEST(X11KeysTest, KeysTheSaverAndDialogsUseHaveTheirVirtualKeys) {
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

TEST(X11KeysTest, ModifiersReportTheGenericKeyOfEitherSide) {
    EXPECT_EQ((UINT)VK_SHIFT, Key(XK_Shift_L));
    EXPECT_EQ((UINT)VK_SHIFT, Key(XK_Shift_R));
    EXPECT_EQ((UINT)VK_CONTROL, Key(XK_Control_L));
    EXPECT_EQ((UINT)VK_CONTROL, Key(XK_Control_R));
    EXPECT_EQ((UINT)VK_MENU, Key(XK_Alt_L));
    EXPECT_EQ((UINT)VK_MENU, Key(XK_Alt_R));
    // Alt sends Meta on some layouts when shifted.
    EXPECT_EQ((UINT)VK_MENU, VirtualKeyForKeysyms(XK_Alt_L, XK_Meta_L, false));
}

TEST(X11KeysTest, FunctionKeysRunOnFromF1) {
    EXPECT_EQ((UINT)VK_F1, Key(XK_F1));
    EXPECT_EQ((UINT)VK_F4, Key(XK_F4));
    EXPECT_EQ((UINT)VK_F10, Key(XK_F10));
    EXPECT_EQ(0x87u, Key(XK_F24));
}

TEST(X11KeysTest, KeypadFollowsNumLock) {
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

TEST(X11KeysTest, PunctuationAndMediaKeysHaveTheSystemsCodes) {
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

TEST(X11KeysTest, KeysWithoutACodeStillArriveAsKeys) {
    // A key the system has no code for is still a key press: it must reach
    // the program (and close the saver) rather than vanish.
    EXPECT_EQ(0xFFu, VirtualKeyForKeysyms(XK_adiaeresis, XK_Adiaeresis, false));
    EXPECT_EQ(0xFFu, Key(0));  // NoSymbol
}

TEST(X11ButtonsTest, ButtonsOneToThreeAreLeftMiddleRight) {
    EXPECT_EQ(PointerAction::Left, TranslateButton(1).action);
    EXPECT_EQ(PointerAction::Middle, TranslateButton(2).action);
    EXPECT_EQ(PointerAction::Right, TranslateButton(3).action);
}

TEST(X11ButtonsTest, WheelButtonsTurnByOneNotchEachWay) {
    PointerButton up = TranslateButton(4), down = TranslateButton(5);
    EXPECT_EQ(PointerAction::Wheel, up.action);
    EXPECT_EQ(WHEEL_DELTA, up.wheelDelta);
    EXPECT_EQ(PointerAction::Wheel, down.action);
    EXPECT_EQ(-WHEEL_DELTA, down.wheelDelta);
    PointerButton left = TranslateButton(6), right = TranslateButton(7);
    EXPECT_EQ(PointerAction::HorizontalWheel, left.action);
    EXPECT_EQ(-WHEEL_DELTA, left.wheelDelta);
    EXPECT_EQ(PointerAction::HorizontalWheel, right.action);
    EXPECT_EQ(WHEEL_DELTA, right.wheelDelta);
    // Back and forward buttons mean nothing to the program.
    EXPECT_EQ(PointerAction::Ignored, TranslateButton(8).action);
    EXPECT_EQ(PointerAction::Ignored, TranslateButton(0).action);
}

TEST(X11PresentTest, DirtyRectanglesAreCutToTheSurface) {
    RECT r;
    ASSERT_TRUE(ClipToSurface({10, 20, 30, 40}, 100, 50, &r));
    EXPECT_EQ("10,20,30,40", Show(r));
    ASSERT_TRUE(ClipToSurface({-5, -7, 200, 300}, 100, 50, &r));
    EXPECT_EQ("0,0,100,50", Show(r));
    ASSERT_TRUE(ClipToSurface({90, 45, 120, 60}, 100, 50, &r));
    EXPECT_EQ("90,45,100,50", Show(r));
}

TEST(X11PresentTest, NothingIsSentForRectanglesOffTheSurfaceOrEmpty) {
    RECT r = {1, 2, 3, 4};
    EXPECT_FALSE(ClipToSurface({100, 0, 150, 10}, 100, 50, &r));
    EXPECT_EQ("0,0,0,0", Show(r));
    EXPECT_FALSE(ClipToSurface({-20, -20, 0, 0}, 100, 50, &r));
    EXPECT_FALSE(ClipToSurface({10, 10, 10, 20}, 100, 50, &r));
    EXPECT_FALSE(ClipToSurface({30, 10, 20, 20}, 100, 50, &r));  // reversed
    EXPECT_FALSE(ClipToSurface({0, 0, 10, 10}, 0, 0, &r));
}

TEST(X11PresentTest, TheUsualTrueColorImageIsCopiedAsIs) {
    PixelLayout layout;  // 32 bits, 0xFF0000 / 0xFF00 / 0xFF, this machine's byte order
    EXPECT_TRUE(LayoutSupported(layout));
    EXPECT_TRUE(LayoutIsNative(layout));
    std::vector<uint32_t> pixels = {0x00C35F, 0xFFFFFF, 0x123456};
    std::vector<uint32_t> out(3, 0xDEADBEEF);
    ConvertRow(pixels.data(), 3, layout, reinterpret_cast<uint8_t *>(out.data()));
    EXPECT_EQ(pixels, out);
}

TEST(X11PresentTest, OtherChannelOrdersAndByteOrdersGetTheirOwnLayout) {
    // Blue in the high byte, red in the low one.
    PixelLayout bgr;
    bgr.redMask = 0x0000FF;
    bgr.blueMask = 0xFF0000;
    EXPECT_FALSE(LayoutIsNative(bgr));
    uint32_t pixel = 0x00C35F, out = 0;
    ConvertRow(&pixel, 1, bgr, reinterpret_cast<uint8_t *>(&out));
    EXPECT_EQ(0x5FC300u, out);

    // A big-endian server: the same word, bytes the other way round.
    PixelLayout big;
    big.msbFirst = true;
    uint8_t bytes[4] = {};
    pixel = 0x00112233;
    ConvertRow(&pixel, 1, big, bytes);
    EXPECT_EQ(0x00, bytes[0]);
    EXPECT_EQ(0x11, bytes[1]);
    EXPECT_EQ(0x22, bytes[2]);
    EXPECT_EQ(0x33, bytes[3]);
}

TEST(X11PresentTest, SixteenBitImagesKeepTheTopBitsAndWhiteStaysWhite) {
    PixelLayout rgb565;
    rgb565.bitsPerPixel = 16;
    rgb565.redMask = 0xF800;
    rgb565.greenMask = 0x07E0;
    rgb565.blueMask = 0x001F;
    ASSERT_TRUE(LayoutSupported(rgb565));
    uint32_t pixels[3] = {0xFFFFFF, 0x000000, 0x00C35F};
    uint8_t out[6];
    ConvertRow(pixels, 3, rgb565, out);
    EXPECT_EQ(0xFF, out[0]);
    EXPECT_EQ(0xFF, out[1]);
    EXPECT_EQ(0x00, out[2]);
    EXPECT_EQ(0x00, out[3]);
    // 0x00C35F: red 0, green 0xC3 >> 2 = 0x30, blue 0x5F >> 3 = 0x0B.
    uint16_t green = (uint16_t)(out[4] | out[5] << 8);
    EXPECT_EQ((0x30 << 5) | 0x0B, green);
}

TEST(X11PresentTest, WiderChannelsAreFilledFromTheTop) {
    // Ten bits a channel: full intensity must stay full, not 0x3FC.
    PixelLayout deep;
    deep.redMask = 0x3FF00000;
    deep.greenMask = 0x000FFC00;
    deep.blueMask = 0x000003FF;
    ASSERT_TRUE(LayoutSupported(deep));
    uint32_t pixel = 0xFF0080, out = 0;
    ConvertRow(&pixel, 1, deep, reinterpret_cast<uint8_t *>(&out));
    EXPECT_EQ(0x3FFu, out >> 20);
    EXPECT_EQ(0u, (out >> 10) & 0x3FF);
    EXPECT_EQ(0x202u, out & 0x3FF);
}

TEST(X11PresentTest, LayoutsThatCannotBeWrittenAreRefused) {
    PixelLayout eight;
    eight.bitsPerPixel = 8;
    EXPECT_FALSE(LayoutSupported(eight));
    PixelLayout overlapping;
    overlapping.greenMask = 0x00FFFF;
    EXPECT_FALSE(LayoutSupported(overlapping));
    PixelLayout gappy;
    gappy.redMask = 0xF0F000;
    EXPECT_FALSE(LayoutSupported(gappy));
    PixelLayout missing;
    missing.blueMask = 0;
    EXPECT_FALSE(LayoutSupported(missing));
    PixelLayout outside;
    outside.bitsPerPixel = 16;  // masks of 24 bits do not fit
    EXPECT_FALSE(LayoutSupported(outside));
}

TEST(X11FocusTest, OnlyAFocusGivenToTheWindowActivatesIt) {
    // A window manager, or our own request, moving the keyboard to the
    // window from anywhere else.
    EXPECT_TRUE(FocusChosenForWindow(NotifyNormal, NotifyNonlinear));
    EXPECT_TRUE(FocusChosenForWindow(NotifyNormal, NotifyAncestor));
    EXPECT_TRUE(FocusChosenForWindow(NotifyNormal, NotifyNonlinearVirtual));
    EXPECT_TRUE(FocusChosenForWindow(NotifyWhileGrabbed, NotifyNonlinear));
    // Without a window manager the pointer decides where keys go; the
    // window under it hears of it, but nobody chose it.
    EXPECT_FALSE(FocusChosenForWindow(NotifyNormal, NotifyPointer));
    EXPECT_FALSE(FocusChosenForWindow(NotifyNormal, NotifyPointerRoot));
    EXPECT_FALSE(FocusChosenForWindow(NotifyNormal, NotifyDetailNone));
    // A keyboard grab ending gives back a focus that never moved.
    EXPECT_FALSE(FocusChosenForWindow(NotifyUngrab, NotifyNonlinear));
    EXPECT_FALSE(FocusChosenForWindow(NotifyGrab, NotifyNonlinear));
    // From a window inside it: it had the keyboard all along.
    EXPECT_FALSE(FocusChosenForWindow(NotifyNormal, NotifyInferior));
}
