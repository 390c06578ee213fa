// What the X11 backend makes of pointer buttons, focus reports, and pixels
// on their way into the server's image formats.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/backends/x11/translate.h"

// After GoogleTest: X.h defines None, a name GoogleTest uses.
#include <X11/X.h>

using namespace layer::x11;

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
