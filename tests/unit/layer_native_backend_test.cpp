// What the layer makes of a display backend's reports and answers: a window
// inside another process's window, pointer and wheel reports, uncovered
// areas, close requests, windows of other processes found and raised, and
// the pointer followed. The X11 backend makes these reports; a scripted
// backend stands in for it here.
#include <map>
#include <memory>
#include <vector>

#include "layer_fixture.h"
#include "platform/session/layer_internal.h"
#include "tests/unit/stub_display.h"

namespace {

constexpr uintptr_t kPanel = 0x4000001;       // another process's window
constexpr uintptr_t kOtherSaver = 0x4000101;  // a saver of another process
constexpr RECT kPanelOnScreen = {100, 80, 420, 320};

struct Presented {
    uintptr_t window;
    RECT dirty;
};

// What the scripted display saw, kept outside it so tests can read it after
// the layer has taken ownership.
struct DisplayLog {
    std::vector<uintptr_t> destroyed;
    std::vector<uintptr_t> raised;
    std::vector<Presented> presented;
    std::vector<bool> cursorShown;
    bool panelAlive = true;
    int pointerX = 0;
    int pointerY = 0;
};

class ScriptedDisplay final : public StubDisplay {
public:
    explicit ScriptedDisplay(DisplayLog *log) : StubDisplay(800, 600), log_(log) {}
    const char *Name() const override { return "scripted"; }
    void DestroyNativeWindow(uintptr_t window) override { log_->destroyed.push_back(window); }
    void RaiseNativeWindow(uintptr_t window) override { log_->raised.push_back(window); }
    // One entry a call: the bounds of what it showed.
    void Present(uintptr_t window, const uint32_t *, int, int, const std::vector<RECT> &dirty) override {
        log_->presented.push_back({window, Bounds(dirty)});
    }
    void SetCursorVisible(bool visible) override { log_->cursorShown.push_back(visible); }
    void WarpPointer(int x, int y) override {
        log_->pointerX = x;
        log_->pointerY = y;
    }
    bool PointerPosition(int *x, int *y) override {
        *x = log_->pointerX;
        *y = log_->pointerY;
        return true;
    }
    uintptr_t FindForeignWindow(const char *className, const char *title) override {
        if (className && title && std::string(className) == "WindowsScreenSaverClass" &&
            std::string(title) == "Screen Saver")
            return kOtherSaver;
        return 0;
    }
    bool IsForeignWindow(uintptr_t window) override {
        return (window == kPanel && log_->panelAlive) || window == kOtherSaver;
    }
    bool ForeignWindowRect(uintptr_t window, RECT *screenRect) override {
        if (window != kPanel || !log_->panelAlive) return false;
        *screenRect = kPanelOnScreen;
        return true;
    }

private:
    DisplayLog *log_;
};

}  // namespace

class NativeBackendTest : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        display = DisplayLog();
        display.pointerX = 400;
        display.pointerY = 300;
        layer::ResetLayer(std::make_unique<ScriptedDisplay>(&display));
        RegisterLogging("Saver", CS_DBLCLKS);
    }

    static layer::InputSink &Sink() { return layer::LayerInputSink(); }

    // A preview: a child of the panel filling it, as the saver makes one.
    HWND MakePreview() {
        return MakeWindow("Saver", WS_CHILD | WS_VISIBLE, 0, 0, 320, 240, (HWND)kPanel, "Preview");
    }

    std::vector<LoggedMessage> Received(UINT message) {
        std::vector<LoggedMessage> out;
        for (const LoggedMessage &m : log())
            if (m.message == message) out.push_back(m);
        return out;
    }

    static DisplayLog display;
};

DisplayLog NativeBackendTest::display;

TEST_F(NativeBackendTest, APreviewLivesInsideTheOtherProcesssWindow) {
    HWND preview = MakePreview();
    ASSERT_NE(nullptr, preview);
    EXPECT_TRUE(IsWindow((HWND)kPanel));
    EXPECT_EQ((HWND)kPanel, GetParent(preview));
    RECT r;
    ASSERT_TRUE(GetClientRect((HWND)kPanel, &r));
    EXPECT_EQ(320, r.right);
    EXPECT_EQ(240, r.bottom);
    ASSERT_TRUE(GetWindowRect(preview, &r));
    EXPECT_EQ(100, r.left);
    EXPECT_EQ(80, r.top);
    EXPECT_EQ(420, r.right);
    EXPECT_EQ(320, r.bottom);
}

TEST_F(NativeBackendTest, ThePointerReachesAPreviewWhereItIsOnTheScreen) {
    HWND preview = MakePreview();
    ASSERT_NE(nullptr, preview);
    Pump();
    log().clear();
    // Inside the preview's rectangle as the panel counts it, but not on the
    // screen: nothing of ours is under the pointer.
    Sink().PointerMoved(50, 50);
    Pump();
    EXPECT_TRUE(Received(WM_MOUSEMOVE).empty());
    Sink().PointerMoved(150, 100);
    Pump();
    auto moves = Received(WM_MOUSEMOVE);
    ASSERT_EQ(1u, moves.size());
    EXPECT_EQ(preview, moves[0].hwnd);
    EXPECT_EQ(50, GET_X_LPARAM(moves[0].lParam));
    EXPECT_EQ(20, GET_Y_LPARAM(moves[0].lParam));
}

TEST_F(NativeBackendTest, APreviewGoesWithTheWindowItLivesIn) {
    HWND preview = MakePreview();
    ASSERT_NE(nullptr, preview);
    display.panelAlive = false;
    Sink().NativeWindowGone(kPanel);
    EXPECT_FALSE(IsWindow(preview));
    EXPECT_EQ(1u, Received(WM_DESTROY).size());
    EXPECT_EQ(std::vector<uintptr_t>{(uintptr_t)preview}, display.destroyed);
    // Our own window taken away underneath us goes the same way.
    HWND top = MakeWindow("Saver", WS_POPUP | WS_VISIBLE, 0, 0, 800, 600);
    ASSERT_NE(nullptr, top);
    Sink().NativeWindowGone((uintptr_t)top);
    EXPECT_FALSE(IsWindow(top));
}

TEST_F(NativeBackendTest, WheelsTurnForTheFocusWindowAndCloseNothing) {
    HWND top = MakeWindow("Saver", WS_POPUP | WS_VISIBLE, 0, 0, 800, 600);
    ASSERT_NE(nullptr, top);
    Pump();
    log().clear();
    Sink().WheelTurned(-WHEEL_DELTA, false);
    Sink().WheelTurned(WHEEL_DELTA, true);
    Pump();
    auto vertical = Received(WM_MOUSEWHEEL);
    auto horizontal = Received(WM_MOUSEHWHEEL);
    ASSERT_EQ(1u, vertical.size());
    ASSERT_EQ(1u, horizontal.size());
    EXPECT_EQ(top, vertical[0].hwnd);
    EXPECT_EQ(-WHEEL_DELTA, (short)HIWORD(vertical[0].wParam));
    EXPECT_EQ(WHEEL_DELTA, (short)HIWORD(horizontal[0].wParam));
    EXPECT_TRUE(IsWindow(top));
}

TEST_F(NativeBackendTest, AnUncoveredAreaIsShownAgainFromTheWindowsPixels) {
    HWND top = MakeWindow("Saver", WS_POPUP | WS_VISIBLE, 0, 0, 800, 600);
    ASSERT_NE(nullptr, top);
    Pump();
    display.presented.clear();
    log().clear();
    Sink().Exposed((uintptr_t)top, RECT{10, 20, 110, 70});
    Pump();
    ASSERT_EQ(1u, display.presented.size());
    EXPECT_EQ((uintptr_t)top, display.presented[0].window);
    EXPECT_EQ(10, display.presented[0].dirty.left);
    EXPECT_EQ(20, display.presented[0].dirty.top);
    EXPECT_EQ(110, display.presented[0].dirty.right);
    EXPECT_EQ(70, display.presented[0].dirty.bottom);
    // The program is not asked to paint for it.
    EXPECT_TRUE(Received(WM_PAINT).empty());
}

TEST_F(NativeBackendTest, ACloseRequestGoesThroughTheSystemMenuCommand) {
    HWND top = MakeWindow("Saver", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300);
    ASSERT_NE(nullptr, top);
    Pump();
    log().clear();
    Sink().CloseRequested((uintptr_t)top);
    Pump();
    auto commands = Received(WM_SYSCOMMAND);
    ASSERT_EQ(1u, commands.size());
    EXPECT_EQ((WPARAM)SC_CLOSE, commands[0].wParam & 0xFFF0);
    EXPECT_EQ(1u, Received(WM_CLOSE).size());
    EXPECT_FALSE(IsWindow(top));
}

TEST_F(NativeBackendTest, ASaverOfAnotherProcessIsFoundAndRaised) {
    HWND other = FindWindowA("WindowsScreenSaverClass", "Screen Saver");
    EXPECT_EQ((HWND)kOtherSaver, other);
    EXPECT_TRUE(IsWindow(other));
    EXPECT_TRUE(SetForegroundWindow(other));
    EXPECT_EQ(std::vector<uintptr_t>{kOtherSaver}, display.raised);
    EXPECT_EQ(other, GetForegroundWindow());
    EXPECT_EQ(nullptr, FindWindowA("WindowsScreenSaverClass", "Preview"));
}

TEST_F(NativeBackendTest, TheCursorIsWhereThePointerIsAndHidesOnRequest) {
    POINT p;
    ASSERT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(400, p.x);
    EXPECT_EQ(300, p.y);
    // Moved by the user with no message read yet: a program measuring
    // movement from here must see where the pointer really is.
    display.pointerX = 403;
    ASSERT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(403, p.x);
    SetCursorPos(10, 20);
    EXPECT_EQ(10, display.pointerX);
    EXPECT_EQ(20, display.pointerY);

    SetCursor(nullptr);
    SetCursor(nullptr);
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ((std::vector<bool>{false, true}), display.cursorShown);
}
