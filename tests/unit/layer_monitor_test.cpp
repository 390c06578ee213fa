// Monitors as the layer makes them of a display: the monitor list given to
// the headless desktop, the primary monitor's corner at 0,0 whatever the
// display counts from, one monitor of several seen as the whole screen by a
// process of a run, and changes the display reports.
#include <memory>
#include <vector>

#include "layer_fixture.h"
#include "platform/session/layer_internal.h"
#include "tests/unit/stub_display.h"

namespace {

// What a display with monitors was asked and told, kept outside it.
struct MonitorLog {
    std::vector<RECT> created;  // top-level windows, in the display's coordinates
    std::vector<RECT> placed;
    std::vector<layer::DisplayShare> shares;
    POINT warped = {0, 0};
    POINT pointer = {0, 0};
    std::vector<layer::Monitor> monitors;
    bool change = false;  // reported at the next wait
};

class MonitorDisplay final : public StubDisplay {
public:
    explicit MonitorDisplay(MonitorLog *log) : StubDisplay(3520, 1200), log_(log) {}
    std::vector<layer::Monitor> Monitors() override { return log_->monitors; }
    void ShareDisplay(const layer::DisplayShare &share) override { log_->shares.push_back(share); }
    uintptr_t CreateNativeWindow(const layer::NativeWindowRequest &request) override {
        if (!request.parent) log_->created.push_back(request.rect);
        return NextWindow();
    }
    void PlaceNativeWindow(uintptr_t, const RECT &area) override { log_->placed.push_back(area); }
    void WarpPointer(int x, int y) override { log_->warped = {x, y}; }
    bool PointerPosition(int *x, int *y) override {
        *x = log_->pointer.x;
        *y = log_->pointer.y;
        return true;
    }
    bool WaitForEvents(int, layer::InputSink &sink) override {
        if (!log_->change) return false;
        log_->change = false;
        sink.DisplayChanged();
        return true;
    }

private:
    MonitorLog *log_;
};

layer::Monitor MonitorAt(RECT rect, const char *name) {
    layer::Monitor m;
    m.rect = m.work = rect;
    m.name = name;
    return m;
}

// Xvfb's and sway's layout with the primary on the right: the display counts
// from the left monitor's corner.
const RECT kLeft = {0, 0, 1600, 1200};
const RECT kRight = {1600, 0, 3520, 1080};

bool Same(const RECT &a, const RECT &b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

class MonitorLayerTest : public LayerTest {
protected:
    void Start(const layer::MonitorShare &share = layer::MonitorShare()) {
        if (display.monitors.empty()) {
            display.monitors = {MonitorAt(kRight, "RIGHT"), MonitorAt(kLeft, "LEFT")};
            display.monitors[0].primary = true;
            display.monitors[0].work.bottom = 1050;  // a panel along its foot
        }
        layer::ResetLayer(std::make_unique<MonitorDisplay>(&display), share);
        RegisterLogging();
    }
    static RECT Monitor(HMONITOR monitor, RECT *work = nullptr, DWORD *flags = nullptr) {
        MONITORINFO info = {};
        info.cbSize = sizeof info;
        EXPECT_TRUE(GetMonitorInfoA(monitor, &info));
        if (work) *work = info.rcWork;
        if (flags) *flags = info.dwFlags;
        return info.rcMonitor;
    }
    MonitorLog display;
};

TEST(MonitorList, ReadsGoodListsAndRefusesAnythingElse) {
    std::vector<layer::Monitor> monitors;
    ASSERT_TRUE(layer::ParseMonitorList("1600x1200+0+0,1920x1080+1600+0", &monitors));
    ASSERT_EQ(2u, monitors.size());
    EXPECT_TRUE(Same(kLeft, monitors[0].rect));
    EXPECT_TRUE(Same(kRight, monitors[1].rect));
    EXPECT_TRUE(monitors[0].primary);
    EXPECT_FALSE(monitors[1].primary);
    EXPECT_EQ("HEADLESS-2", monitors[1].name);
    ASSERT_TRUE(layer::ParseMonitorList("800x600-800-600", &monitors));
    EXPECT_TRUE(Same(RECT{-800, -600, 0, 0}, monitors[0].rect));

    std::string seventeen;
    for (int i = 0; i < 17; ++i) seventeen += std::string(i ? "," : "") + "10x10+" + std::to_string(i * 10) + "+0";
    const char *bad[] = {"", "1600x1200", "1600x1200+0", "1600x1200+0+0,", ",1600x1200+0+0", "0x100+0+0",
                         "100x0+0+0", "16385x10+0+0", "10x10+32767+0", "10x10+0+99999999999999999999",
                         "-10x10+0+0", "10x10+ 1+0", "10x10+0+0 ", "10*10+0+0", "10x10+0x0", "1e3x10+0+0",
                         "10x10+0+0;10x10+10+0", seventeen.c_str()};
    for (const char *text : bad) {
        SCOPED_TRACE(text);
        monitors = {layer::Monitor()};
        EXPECT_FALSE(layer::ParseMonitorList(text, &monitors));
        EXPECT_TRUE(monitors.empty());
    }
    EXPECT_FALSE(layer::ParseMonitorList(nullptr, &monitors));
}

TEST_F(MonitorLayerTest, ThePrimaryMonitorsCornerIsZeroWhereverTheDisplayHasIt) {
    Start();
    EXPECT_EQ(2, GetSystemMetrics(SM_CMONITORS));
    EXPECT_EQ(1920, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(1080, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(-1600, GetSystemMetrics(SM_XVIRTUALSCREEN));
    EXPECT_EQ(0, GetSystemMetrics(SM_YVIRTUALSCREEN));
    EXPECT_EQ(3520, GetSystemMetrics(SM_CXVIRTUALSCREEN));
    EXPECT_EQ(1200, GetSystemMetrics(SM_CYVIRTUALSCREEN));
    RECT desktop = {};
    GetWindowRect(GetDesktopWindow(), &desktop);
    EXPECT_TRUE(Same(RECT{0, 0, 1920, 1080}, desktop));

    HMONITOR primary = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTONULL);
    HMONITOR left = MonitorFromPoint(POINT{-1, 1199}, MONITOR_DEFAULTTONULL);
    ASSERT_NE(nullptr, left);
    RECT work = {};
    DWORD flags = 0;
    EXPECT_TRUE(Same(RECT{0, 0, 1920, 1080}, Monitor(primary, &work, &flags)));
    EXPECT_TRUE(Same(RECT{0, 0, 1920, 1050}, work));
    EXPECT_EQ(static_cast<DWORD>(MONITORINFOF_PRIMARY), flags);
    EXPECT_TRUE(Same(RECT{-1600, 0, 0, 1200}, Monitor(left, nullptr, &flags)));
    EXPECT_EQ(0u, flags);
    // Below the smaller primary, beside the taller left monitor: off both.
    EXPECT_EQ(nullptr, MonitorFromPoint(POINT{100, 1100}, MONITOR_DEFAULTTONULL));
    EXPECT_EQ(primary, MonitorFromPoint(POINT{100, 1100}, MONITOR_DEFAULTTONEAREST));
    EXPECT_EQ(left, MonitorFromPoint(POINT{-5000, 1100}, MONITOR_DEFAULTTONEAREST));

    // A window at 0,0 lands on the primary; the pointer comes and goes in
    // the same coordinates.
    MakeWindow("LayerTestClass", WS_POPUP | WS_VISIBLE, 0, 0, 1920, 1080);
    ASSERT_EQ(1u, display.created.size());
    EXPECT_TRUE(Same(kRight, display.created[0]));
    ASSERT_FALSE(display.placed.empty());
    EXPECT_TRUE(Same(kRight, display.placed.back()));
    SetCursorPos(-100, 50);
    EXPECT_EQ(1500, display.warped.x);
    display.pointer = {10, 20};
    POINT cursor = {};
    GetCursorPos(&cursor);
    EXPECT_EQ(-1590, cursor.x);
    EXPECT_EQ(20, cursor.y);
}

TEST_F(MonitorLayerTest, AProcessOfARunSeesItsMonitorAsTheWholeScreen) {
    layer::MonitorShare share;
    share.confined = true;
    share.monitor = MonitorAt(kLeft, "LEFT");
    share.run = "4242";
    display.pointer = {1700, 40};  // on the other monitor
    Start(share);
    ASSERT_EQ(1u, display.shares.size());
    EXPECT_EQ("4242", display.shares[0].run);
    EXPECT_EQ("LEFT", display.shares[0].monitor.name);
    EXPECT_EQ(1, GetSystemMetrics(SM_CMONITORS));
    EXPECT_EQ(1600, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(1200, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(1600, GetSystemMetrics(SM_CXVIRTUALSCREEN));
    DWORD flags = 0;
    EXPECT_TRUE(Same(RECT{0, 0, 1600, 1200}, Monitor(MonitorFromPoint(POINT{0, 0}, 0), nullptr, &flags)));
    EXPECT_EQ(static_cast<DWORD>(MONITORINFOF_PRIMARY), flags);
    // The pointer beyond the monitor's edge is held at it.
    POINT cursor = {};
    GetCursorPos(&cursor);
    EXPECT_EQ(1599, cursor.x);
    EXPECT_EQ(40, cursor.y);

    // The same for the right one: its windows go where it is.
    display = MonitorLog();
    share.monitor = MonitorAt(kRight, "RIGHT");
    Start(share);
    MakeWindow("LayerTestClass", WS_POPUP | WS_VISIBLE, 0, 0, 1920, 1080);
    ASSERT_EQ(1u, display.created.size());
    EXPECT_TRUE(Same(kRight, display.created[0]));
    EXPECT_EQ(1920, GetSystemMetrics(SM_CXSCREEN));
}

TEST_F(MonitorLayerTest, AChangeOfMonitorsReachesEveryTopLevelWindow) {
    Start();
    HWND first = MakeWindow("LayerTestClass", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100);
    HWND second = MakeWindow("LayerTestClass", WS_POPUP, 200, 0, 100, 100);
    display.monitors.pop_back();  // the left monitor went
    display.change = true;
    log().clear();
    MSG msg;
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    int heard = 0;
    for (const LoggedMessage &m : log())
        if (m.message == WM_DISPLAYCHANGE) {
            ++heard;
            EXPECT_EQ(MAKELPARAM(1920, 1080), m.lParam);
            EXPECT_TRUE(m.hwnd == first || m.hwnd == second);
        }
    EXPECT_EQ(2, heard);
    EXPECT_EQ(1, GetSystemMetrics(SM_CMONITORS));
    EXPECT_EQ(1920, GetSystemMetrics(SM_CXVIRTUALSCREEN));
}

TEST_F(MonitorLayerTest, TheHeadlessDesktopTakesItsMonitorsFromTheEnvironment) {
    setenv("VANTREL_HEADLESS_MONITORS", "1600x1200+0+0,1920x1080+1600+0", 1);
    setenv("VANTREL_MONITOR", "1920x1080+1600+0", 1);
    layer::MonitorShare share = layer::MonitorShareFromEnvironment();
    std::vector<layer::Monitor> monitors;
    bool read = layer::ParseMonitorList(getenv("VANTREL_HEADLESS_MONITORS"), &monitors);
    unsetenv("VANTREL_HEADLESS_MONITORS");
    unsetenv("VANTREL_MONITOR");
    ASSERT_TRUE(read);
    EXPECT_TRUE(share.confined);
    EXPECT_TRUE(Same(kRight, share.monitor.rect));
    EXPECT_TRUE(share.run.empty());
    layer::ResetLayer(layer::CreateHeadlessBackend(1, 1, monitors));
    EXPECT_EQ(2, GetSystemMetrics(SM_CMONITORS));
    EXPECT_EQ(1600, GetSystemMetrics(SM_CXSCREEN));
    layer::ResetLayer(layer::CreateHeadlessBackend(1, 1, monitors), share);
    EXPECT_EQ(1, GetSystemMetrics(SM_CMONITORS));
    EXPECT_EQ(1920, GetSystemMetrics(SM_CXSCREEN));
    // A malformed monitor is no confinement at all.
    setenv("VANTREL_MONITOR", "1920x1080", 1);
    EXPECT_FALSE(layer::MonitorShareFromEnvironment().confined);
    unsetenv("VANTREL_MONITOR");
}

}  // namespace
