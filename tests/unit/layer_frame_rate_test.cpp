// The frame-rate overlay (--fps) over the frames of a real saver run on the
// virtual clock: the rate it shows is the one the frames were painted at,
// in the window's corner, over the frame.
#include <cstdlib>
#include <string>

#include "engine/engine.h"
#include "host_fixture.h"
#include "platform/session/module_mode.h"

namespace {

class FrameRateTest : public HostTest {
protected:
    // Runs the full-screen saver for `idles` idle moments, each of which
    // also moves the clock on by `extraMs`; returns what the overlay said
    // after each one.
    std::vector<std::string> Run(std::vector<std::string> options, int idles, DWORD extraMs = 0)
    {
        options.insert(options.begin(), "vantrel-saver");
        layer::ApplyModuleOptions(layer::ParseModuleOptions(options));
        std::vector<std::string> said;
        std::vector<std::function<void()>> steps(idles, [&said, extraMs] {
            if (extraMs)
                layer::AdvanceTicks(extraMs);
            said.push_back(layer::FrameRateShown());
        });
        steps.push_back([this] { lastFrame = layer::WindowPixels(HostState.window, &width, &height); });
        ScriptIdle(steps);
        EXPECT_EQ(0, RunSaverWindow(nullptr));
        return said;
    }

    static double Rate(const std::string &text)
    {
        EXPECT_EQ(0u, text.find("FPS: ")) << text;
        return std::atof(text.c_str() + 5);
    }

    std::vector<uint32_t> lastFrame;
    int width = 0, height = 0;
};

TEST_F(FrameRateTest, TheCornerShowsTheRateFramesArePaintedAtOverEachFrame)
{
    std::vector<std::string> said = Run({"--fps", "--bombs-only"}, 60);
    ASSERT_EQ(60u, said.size());
    EXPECT_EQ("", said[3]);  // nothing to say before a second of frames is in
    EXPECT_NEAR(1000.0 / static_cast<int>(FrameTimerPeriodMs), Rate(said.back()), 0.5);
    // Its first word comes once a second of frames is in, not before.
    size_t first = 0;
    while (first < said.size() && said[first].empty())
        ++first;
    EXPECT_NEAR(1000.0 / static_cast<int>(FrameTimerPeriodMs), static_cast<double>(first), 2.0);

    // White ink on a black plate in the bottom-left corner, over the bombs
    // and their backdrop (which have neither pure white nor only black there).
    ASSERT_EQ(640, width);
    int white = 0, other = 0;
    for (int y = height - 20; y < height; ++y)
        for (int x = 0; x < 60; ++x) {
            uint32_t p = lastFrame[static_cast<size_t>(y * width + x)];
            white += p == 0xFFFFFF;
            other += p != 0xFFFFFF && p != 0;
        }
    EXPECT_GT(white, 40);
    EXPECT_EQ(0, other);
}

TEST_F(FrameRateTest, SlowerFramesShowASlowerRateAndWithoutTheOptionNothingIsSaid)
{
    // The clock now moves 250 ms between frames, much more than the timer asks for.
    std::vector<std::string> said = Run({"--fps", "--bombs-only"}, 20, 250);
    EXPECT_NEAR(4.0, Rate(said.back()), 0.3);

    layer::ResetHeadless(640, 480);
    layer::SetTickCount(1000);
    HostState = HostStateRecord{};
    HostState.instance = instance;
    for (const std::string &text : Run({"--bombs-only"}, 30))
        EXPECT_EQ("", text);
}

}  // namespace
