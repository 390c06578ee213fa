// The monitors the saver does not draw on: each is covered in black topmost
// windows of the saver's for as long as the saver window lives, and input
// there ends the run as input on the saver window does.
#include "host_fixture.h"
#include "platform/session/layer_internal.h"

namespace {

// The primary on the right of the display, a smaller one on its left: the
// layer puts the primary at 0,0 and the other at -1600,0.
const char TwoMonitors[] = "1920x1080+1600+0,1600x1200+0+0";
const RECT LeftMonitor = {-1600, 0, 0, 1200};

class MonitorCoverTest : public HostTest {
protected:
    void SetUp() override
    {
        UseMonitors(TwoMonitors);
    }

    void UseMonitors(const char *list)
    {
        HostTest::SetUp();
        std::vector<layer::Monitor> monitors;
        ASSERT_TRUE(layer::ParseMonitorList(list, &monitors));
        layer::ResetLayer(layer::CreateHeadlessBackend(1, 1, monitors));
        layer::SetTickCount(1000);
        layer::SetCursorPosition(100, 100);
        instance = GetModuleHandleA(nullptr);
        HostState.instance = instance;
        ScriptIdle({});
    }

    // A full-screen run with the steps at idle moments; the number of steps
    // that ran before the window went away.
    size_t Run(std::vector<std::function<void()>> steps)
    {
        ScriptIdle(std::move(steps));
        EXPECT_EQ(0, RunSaverWindow(nullptr));
        return scriptRanOut ? script.size() + 1 : stepsRun;
    }

    static HWND Cover() { return MonitorCovers.count > 0 ? MonitorCovers.windows[0] : nullptr; }
};

TEST_F(MonitorCoverTest, EveryOtherMonitorIsBlackWhileTheSaverRunsOnThePrimary)
{
    RECT saver = {};
    struct Seen {
        HWND window;
        RECT rect;
        LONG exStyle;
        HWND owner;
        BOOL visible;
        std::vector<uint32_t> pixels;
    };
    std::vector<Seen> covers;
    HWND foreground = nullptr;
    Run({[&] {
        GetWindowRect(HostState.window, &saver);
        foreground = GetForegroundWindow();
        for (int i = 0; i < MonitorCovers.count; ++i) {
            Seen seen = {MonitorCovers.windows[i], {}, 0, nullptr, FALSE, {}};
            GetWindowRect(seen.window, &seen.rect);
            seen.exStyle = GetWindowLongA(seen.window, GWL_EXSTYLE);
            seen.owner = GetParent(seen.window);
            seen.visible = IsWindowVisible(seen.window);
            UpdateWindow(seen.window);
            seen.pixels = layer::WindowPixels(seen.window);
            covers.push_back(seen);
        }
    }});
    EXPECT_EQ(0, saver.left);
    EXPECT_EQ(1920, saver.right);
    EXPECT_EQ(1080, saver.bottom);
    EXPECT_EQ(HostState.window, foreground) << "the saver keeps the keyboard";
    // Two halves, side by side, that make up the left monitor exactly.
    ASSERT_EQ(2u, covers.size());
    EXPECT_EQ(LeftMonitor.left, covers[0].rect.left);
    EXPECT_EQ(covers[0].rect.right, covers[1].rect.left);
    EXPECT_EQ(LeftMonitor.right, covers[1].rect.right);
    size_t pixels = 0;
    for (const Seen &cover : covers) {
        EXPECT_EQ(LeftMonitor.top, cover.rect.top);
        EXPECT_EQ(LeftMonitor.bottom, cover.rect.bottom);
        EXPECT_TRUE(cover.exStyle & WS_EX_TOPMOST);
        EXPECT_EQ(HostState.window, cover.owner);
        EXPECT_TRUE(cover.visible);
        ASSERT_FALSE(cover.pixels.empty());
        EXPECT_EQ(0u, cover.pixels.front());
        EXPECT_EQ(0u, cover.pixels.back());
        pixels += cover.pixels.size();
        EXPECT_FALSE(IsWindow(cover.window)) << "the covers go with the saver";
    }
    EXPECT_EQ(1600u * 1200u, pixels);
    EXPECT_EQ(0, MonitorCovers.count);
}

TEST_F(MonitorCoverTest, InputOnACoverEndsTheRunByTheSaversRules)
{
    struct Case {
        const char *name;
        std::function<void()> input;
    } cases[] = {
        {"key", [] { SendMessageA(Cover(), WM_KEYDOWN, 'Q', 0); }},
        {"button", [] {
             layer::SetCursorPosition(-800, 600);
             layer::InjectButton(layer::Button::Left, true);
         }},
        {"close", [] { PostMessageA(Cover(), WM_CLOSE, 0, 0); }},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        EXPECT_EQ(1u, Run({c.input}));
        EXPECT_EQ(1, HostState.closing);
    }
    // Over the cover as over the saver: a movement of 4 stays, 5 closes.
    SetUp();
    layer::SetCursorPosition(-2, 100);
    EXPECT_EQ(2u, Run({[] { layer::InjectMouseMove(-4, 102); },
                       [] {
                           EXPECT_EQ(0, HostState.closing);
                           layer::InjectMouseMove(-5, 102);
                       }}));
    EXPECT_EQ(1, HostState.closing);
}

TEST_F(MonitorCoverTest, CoversFollowTheMonitorsAndAPreviewHasNone)
{
    // A change of the display makes the covers again, still two per other monitor.
    int coversAfter = 0;
    Run({[] { SendMessageA(HostState.window, WM_DISPLAYCHANGE, 32, MAKELPARAM(1920, 1080)); },
         [&] { coversAfter = MonitorCovers.count; }});
    EXPECT_EQ(2, coversAfter);

    SetUp();
    HWND hosting = MakeHostingWindow();
    int coversInPreview = -1;
    ScriptIdle({[&] { coversInPreview = MonitorCovers.count; }});
    RunSaverWindow(hosting);
    EXPECT_EQ(0, coversInPreview);

    // One monitor: the saver window is the only window of the run.
    UseMonitors("640x480+0+0");
    int covers = -1;
    Run({[&] { covers = MonitorCovers.count; }});
    EXPECT_EQ(0, covers);
}

}  // namespace
