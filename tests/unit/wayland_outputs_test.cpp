// Which display a run goes to, and what the Wayland backend makes of a
// compositor's outputs: their device pixels, the primary one, the monitors
// the layer is told of, and pointer positions on scaled surfaces.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/backends/wayland/buffer_fill.h"
#include "platform/backends/wayland/outputs.h"
#include "platform/session/backend_choice.h"

using layer::BackendPlan;
using layer::ChooseBackend;
using layer::NamesXWindow;
using layer::wayland::OutputInfo;
using Args = std::vector<std::string>;

TEST(BackendChoiceTest, TheSessionDecidesUnlessAsked) {
    EXPECT_EQ(BackendPlan::WaylandElseX11, ChooseBackend(nullptr, "wayland-1", ":0", false).plan);
    EXPECT_EQ(BackendPlan::X11, ChooseBackend(nullptr, "", ":0", false).plan);
    EXPECT_EQ(BackendPlan::X11, ChooseBackend(nullptr, nullptr, nullptr, false).plan);  // says why it cannot
    EXPECT_EQ(BackendPlan::X11, ChooseBackend("x11", "wayland-1", ":0", false).plan);
    EXPECT_EQ(BackendPlan::Wayland, ChooseBackend("wayland", nullptr, ":0", false).plan);
    EXPECT_EQ(BackendPlan::Headless, ChooseBackend("headless", "wayland-1", ":0", true).plan);
    layer::BackendChoice odd = ChooseBackend("wayland2", "wayland-1", nullptr, false);
    EXPECT_EQ(BackendPlan::WaylandElseX11, odd.plan);
    EXPECT_NE(std::string::npos, odd.warning.find("wayland2"));
    EXPECT_TRUE(ChooseBackend("x11", nullptr, ":0", false).warning.empty());
}

TEST(BackendChoiceTest, NamedXWindowsGoToTheXServer) {
    EXPECT_EQ(BackendPlan::X11, ChooseBackend(nullptr, "wayland-1", ":0", true).plan);
    EXPECT_EQ(BackendPlan::X11, ChooseBackend("wayland", "wayland-1", ":0", true).plan);
    EXPECT_EQ(BackendPlan::PreviewNeedsX, ChooseBackend(nullptr, "wayland-1", nullptr, true).plan);
    EXPECT_EQ(BackendPlan::PreviewNeedsX, ChooseBackend("wayland", "wayland-1", "", true).plan);
    // No session at all: the X server's "cannot open display".
    EXPECT_EQ(BackendPlan::X11, ChooseBackend(nullptr, nullptr, nullptr, true).plan);

    for (const Args &a : {Args{"s", "/p", "123"}, Args{"s", "-P:123"}, Args{"s", "/l", "9"}, Args{"s", "--root"},
                          Args{"s", "--window-id", "0x40"}, Args{"s", "-window-id=5"}, Args{"s", "", "p 5"}})
        EXPECT_TRUE(NamesXWindow(a, nullptr)) << a.back();
    for (const Args &a : {Args{"s"}, Args{"s", "/s"}, Args{"s", "-c:77"}, Args{"s", "/a"}, Args{"s", "/s", "/p"}})
        EXPECT_FALSE(NamesXWindow(a, nullptr)) << a.back();
    EXPECT_TRUE(NamesXWindow(Args{"s", "/s"}, "0x400004"));
    EXPECT_FALSE(NamesXWindow(Args{"s", "/s"}, ""));
}

namespace {
OutputInfo Output(uint32_t global, const char *name, int x, int y, int modeW, int modeH, int scale,
                  bool xdg = true) {
    OutputInfo o;
    o.global = global;
    o.name = name;
    o.ready = true;
    o.x = x;
    o.y = y;
    o.modeWidth = modeW;
    o.modeHeight = modeH;
    o.scale = scale;
    if (xdg) {
        o.logicalKnown = true;
        o.logicalWidth = modeW / scale;
        o.logicalHeight = modeH / scale;
    }
    return o;
}
}  // namespace

TEST(WaylandOutputsTest, DevicePixelsFollowModeTransformAndScale) {
    int w, h;
    OutputInfo scaled = Output(1, "B", 1600, 0, 1920, 1080, 2);
    layer::wayland::DeviceSize(scaled, &w, &h);
    EXPECT_EQ(1920, w);
    EXPECT_EQ(1080, h);
    layer::wayland::LogicalSize(scaled, &w, &h);
    EXPECT_EQ(960, w);
    EXPECT_EQ(540, h);

    OutputInfo turned = Output(2, "C", 0, 0, 1920, 1080, 1, false);
    turned.transform = 1;  // 90 degrees
    layer::wayland::DeviceSize(turned, &w, &h);
    EXPECT_EQ(1080, w);
    EXPECT_EQ(1920, h);
    layer::wayland::LogicalSize(turned, &w, &h);
    EXPECT_EQ(1080, w);
    EXPECT_EQ(1920, h);

    // Only xdg-output has spoken (no mode yet): its size times the scale.
    OutputInfo early;
    early.logicalKnown = true;
    early.logicalWidth = 800;
    early.logicalHeight = 600;
    early.scale = 2;
    layer::wayland::DeviceSize(early, &w, &h);
    EXPECT_EQ(1600, w);
    EXPECT_EQ(1200, h);
    layer::wayland::DeviceSize(OutputInfo(), &w, &h);
    EXPECT_EQ(1, w);
    EXPECT_EQ(1, h);
}

TEST(WaylandOutputsTest, MonitorsPutThePrimaryAtTheOrigin) {
    std::vector<OutputInfo> outputs = {Output(7, "HEADLESS-2", 1600, 0, 1920, 1080, 2),
                                       Output(5, "HEADLESS-1", 0, 0, 1600, 1200, 1)};
    OutputInfo pending = Output(9, "HEADLESS-3", 3520, 0, 800, 600, 1);
    pending.ready = false;
    outputs.push_back(pending);
    EXPECT_EQ(1, layer::wayland::PrimaryOutput(outputs));
    EXPECT_EQ(0, layer::wayland::OutputNamed(outputs, "HEADLESS-2"));
    EXPECT_EQ(-1, layer::wayland::OutputNamed(outputs, "HEADLESS-3"));  // not ready
    EXPECT_EQ(-1, layer::wayland::OutputNamed(outputs, "headless-2"));

    std::vector<layer::Monitor> all = layer::wayland::MonitorsOf(outputs, -1);
    ASSERT_EQ(2u, all.size());
    EXPECT_EQ("HEADLESS-1", all[0].name);
    EXPECT_TRUE(all[0].primary);
    EXPECT_EQ(0, all[0].rect.left);
    EXPECT_EQ(1600, all[0].rect.right);
    EXPECT_EQ("HEADLESS-2", all[1].name);
    EXPECT_FALSE(all[1].primary);
    EXPECT_EQ(1600, all[1].rect.left);
    EXPECT_EQ(3520, all[1].rect.right);  // its own device pixels
    EXPECT_EQ(1080, all[1].rect.bottom);

    // Kept to one output: that output is the whole screen.
    std::vector<layer::Monitor> one = layer::wayland::MonitorsOf(outputs, 0);
    ASSERT_EQ(1u, one.size());
    EXPECT_EQ("HEADLESS-2", one[0].name);
    EXPECT_TRUE(one[0].primary);
    EXPECT_EQ(0, one[0].rect.left);
    EXPECT_EQ(1920, one[0].rect.right);

    // No output at the origin (a layout that starts elsewhere): the first.
    std::vector<OutputInfo> shifted = {Output(3, "A", 100, 50, 800, 600, 1), Output(4, "B", 900, 50, 800, 600, 1)};
    EXPECT_EQ(0, layer::wayland::PrimaryOutput(shifted));
    EXPECT_EQ(800, layer::wayland::MonitorsOf(shifted, -1)[1].rect.left);
    EXPECT_TRUE(layer::wayland::MonitorsOf({}, -1).empty());
}

TEST(WaylandOutputsTest, SurfacePositionsBecomeDevicePixelsOnTheSurface) {
    int x, y;
    layer::wayland::SurfaceToPixels(10.75, 3.5, 960, 540, 1920, 1080, &x, &y);
    EXPECT_EQ(21, x);
    EXPECT_EQ(7, y);
    // A fractional scale: 1280 logical to 1920 device pixels.
    layer::wayland::SurfaceToPixels(1279.9, 0, 1280, 720, 1920, 1080, &x, &y);
    EXPECT_EQ(1919, x);
    // Enter and leave may sit on or past the edge.
    layer::wayland::SurfaceToPixels(-1, 960, 960, 540, 1920, 1080, &x, &y);
    EXPECT_EQ(0, x);
    EXPECT_EQ(1079, y);
}

// A buffer row is written from the window's pixels or from its indices, the
// aligned middle of it past the cache: every start and length must give the
// same row, and nothing beside it may be touched.
TEST(WaylandBufferFillTest, EverySpanIsWrittenWholeAndAlone) {
    std::vector<uint32_t> table(256), pixels(96);
    std::vector<uint8_t> indices(96);
    for (int i = 0; i < 256; ++i) table[(size_t)i] = 0x010203u * (uint32_t)i ^ 0x5A5A5Au;
    for (int i = 0; i < 96; ++i) {
        indices[(size_t)i] = (uint8_t)(i * 37 + 11);
        pixels[(size_t)i] = 0xF00000u + (uint32_t)i;
    }
    alignas(64) uint32_t row[128];
    for (bool fromIndices : {false, true})
        for (int start = 0; start < 16; ++start)
            for (int n = 0; n <= 80; ++n) {
                std::fill(row, row + 128, 0xDEADBEEFu);
                layer::wayland::FillBufferSpan(row + start, pixels.data(), fromIndices ? indices.data() : nullptr,
                                               table.data(), n);
                layer::wayland::FinishBufferFill();
                for (int x = 0; x < 128; ++x) {
                    const bool inside = x >= start && x < start + n;
                    const uint32_t want = !inside      ? 0xDEADBEEFu
                                          : fromIndices ? table[indices[(size_t)(x - start)]]
                                                        : pixels[(size_t)(x - start)];
                    ASSERT_EQ(want, row[x]) << (fromIndices ? "indices" : "pixels") << ", start " << start
                                            << ", " << n << " pixels, column " << x;
                }
            }
}
