// Dialogs on a display with real windows: where the native windows of a
// dialog and its controls go, which window the display gives the keyboard
// to while dialogs open and close over each other, a window manager moving
// a dialog or focusing the window a modal dialog has disabled. A scripted
// display stands in for the X11 backend and keeps what it was asked.
#include <map>
#include <memory>
#include <vector>

#include "host/host.h"
#include "layer_fixture.h"
#include "platform/session/layer_internal.h"
#include "tests/unit/stub_display.h"
#include "resources/resource.h"
#include "settings/settings.h"

namespace {

struct NativeLog {
    std::map<uintptr_t, layer::NativeWindowRequest> created;
    std::map<uintptr_t, RECT> placed;  // the last place asked for, by window
    std::vector<uintptr_t> focused;
};

class PlacingDisplay final : public StubDisplay {
public:
    explicit PlacingDisplay(NativeLog *log) : StubDisplay(1024, 768, 0x300000), log_(log) {}
    const char *Name() const override { return "placing"; }
    uintptr_t CreateNativeWindow(const layer::NativeWindowRequest &request) override {
        uintptr_t window = NextWindow();
        log_->created[window] = request;
        log_->placed[window] = request.rect;
        return window;
    }
    void PlaceNativeWindow(uintptr_t window, const RECT &clientArea) override { log_->placed[window] = clientArea; }
    void FocusNativeWindow(uintptr_t window) override { log_->focused.push_back(window); }
    bool Interactive() const override { return true; }

private:
    NativeLog *log_;
};

}  // namespace

class NativeDialogTest : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        native = NativeLog();
        layer::ResetLayer(std::make_unique<PlacingDisplay>(&native));
        layer::SetTickCount(1000);
        HostState = HostStateRecord{};
        HostState.instance = GetModuleHandleA(nullptr);
        SaverSettings = SaverSettingsRecord{};
        RegisterLogging("Plain", CS_DBLCLKS);
    }
    void TearDown() override {
        layer::SetIdleHook(nullptr);
        LayerTest::TearDown();
    }

    static layer::InputSink &Sink() { return layer::LayerInputSink(); }

    // The configuration dialog run as /c runs it, `steps` one at a time
    // whenever the innermost dialog is idle; a dialog left open is ended.
    static INT_PTR RunConfigDialog(std::vector<std::function<void()>> steps) {
        size_t next = 0;
        layer::SetIdleHook([&] {
            if (next < steps.size()) {
                steps[next++]();
            } else if (HWND open = layer::ActiveDialog()) {
                ADD_FAILURE() << "a dialog was still open after the last step";
                EndDialog(open, -2);
            }
        });
        INT_PTR result = DialogBoxParamA(HostState.instance, MAKEINTRESOURCEA(ConfigDialogId), nullptr,
                                         ConfigDialogProc, 0);
        layer::SetIdleHook(nullptr);
        EXPECT_EQ(steps.size(), next) << "not every step ran";
        return result;
    }

    static RECT Placed(HWND hwnd) { return native.placed[(uintptr_t)hwnd]; }
    static uintptr_t LastFocused() { return native.focused.empty() ? 0 : native.focused.back(); }

    static NativeLog native;
};

NativeLog NativeDialogTest::native;

TEST_F(NativeDialogTest, NativeWindowsShowTheClientAreasWhereTheLayerHasThem) {
    RunConfigDialog({[] {
        HWND dialog = layer::ActiveDialog();
        ASSERT_NE(nullptr, dialog);
        RECT window;
        ASSERT_TRUE(GetWindowRect(dialog, &window));
        RECT r = Placed(dialog);
        EXPECT_EQ(window.left, r.left);
        EXPECT_EQ(window.top, r.top);
        // 291 x 219 dialog units of 8-point MS Sans Serif.
        EXPECT_EQ(437, r.right - r.left);
        EXPECT_EQ(356, r.bottom - r.top);
        // A box with a sunken edge: the parent draws the edge around the
        // native window, which holds only what is inside it.
        const layer::Window *w = layer::FindWindowRecord(GetDlgItem(dialog, IDC_BOMB_COUNT_BOX));
        ASSERT_NE(nullptr, w);
        r = Placed(w->handle);
        EXPECT_EQ(w->rect.left + 2, r.left);
        EXPECT_EQ(w->rect.top + 2, r.top);
        EXPECT_EQ(w->rect.right - 2, r.right);
        EXPECT_EQ(w->rect.bottom - 2, r.bottom);
        // The banner sized itself to its bitmap while it was made; its
        // native window has that size, not the template's.
        HWND banner = nullptr;
        for (HWND c : layer::FindWindowRecord(dialog)->children)
            if (SendMessageA(c, STM_GETIMAGE, IMAGE_BITMAP, 0)) banner = c;
        ASSERT_NE(nullptr, banner);
        RECT client;
        GetClientRect(banner, &client);
        r = Placed(banner);
        EXPECT_EQ(client.right, r.right - r.left);
        EXPECT_EQ(client.bottom, r.bottom - r.top);
        EndDialog(dialog, 0);
    }});
}

TEST_F(NativeDialogTest, TheKeyboardGoesToEachDialogInTurnAndBackToTheOwner) {
    HWND config = nullptr, about = nullptr;
    RunConfigDialog({
        [&] {
            config = layer::ActiveDialog();
            ASSERT_NE(nullptr, config);
            EXPECT_EQ((uintptr_t)config, LastFocused());
            EXPECT_EQ(0u, native.created[(uintptr_t)config].owner);
            PostMessageA(config, WM_COMMAND, IDC_ABOUT, 0);
        },
        [&] {
            about = layer::ActiveDialog();
            ASSERT_NE(config, about);
            EXPECT_EQ((uintptr_t)about, LastFocused());
            // The About box stands over the dialog that opened it.
            EXPECT_EQ((uintptr_t)config, native.created[(uintptr_t)about].owner);
            PostMessageA(about, WM_COMMAND, IDC_ABOUT_OK, 0);
        },
        [&] {
            EXPECT_EQ(config, layer::ActiveDialog());
            EXPECT_EQ((uintptr_t)config, LastFocused());
            EndDialog(config, 0);
        },
    });
}

TEST_F(NativeDialogTest, ADialogUnderAModalOneAnswersNeitherCloseBoxNorFocus) {
    HWND config = nullptr, about = nullptr;
    INT_PTR result = RunConfigDialog({
        [&] {
            config = layer::ActiveDialog();
            PostMessageA(config, WM_COMMAND, IDC_ABOUT, 0);
        },
        [&] {
            about = layer::ActiveDialog();
            native.focused.clear();
            // A window manager's close box on the disabled dialog, and its
            // focus given to it: the About box keeps the keyboard, and the
            // dialog does not end under it.
            Sink().CloseRequested((uintptr_t)config);
            Sink().NativeWindowFocused((uintptr_t)config);
        },
        [&] {
            EXPECT_TRUE(IsWindowVisible(about));
            EXPECT_EQ(about, GetActiveWindow());
            EXPECT_EQ(std::vector<uintptr_t>({(uintptr_t)about, (uintptr_t)about}), native.focused);
            // The About box's own close box is Cancel, and the dialog goes on.
            Sink().CloseRequested((uintptr_t)about);
        },
        [&] {
            EXPECT_FALSE(IsWindow(about));
            EXPECT_EQ(config, layer::ActiveDialog());
            Sink().CloseRequested((uintptr_t)config);
        },
    });
    EXPECT_EQ(0, result);
}

TEST_F(NativeDialogTest, AWindowMovedByTheWindowManagerIsHitWhereItIs) {
    HWND top = MakeWindow("Plain", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200);
    HWND child = MakeWindow("Plain", WS_CHILD | WS_VISIBLE, 10, 10, 50, 40, top);
    ASSERT_NE(nullptr, child);
    Pump();
    log().clear();
    Sink().NativeWindowMoved((uintptr_t)top, 100, 50);
    RECT r;
    ASSERT_TRUE(GetWindowRect(top, &r));
    EXPECT_EQ(100, r.left);
    EXPECT_EQ(50, r.top);
    EXPECT_EQ(400, r.right);
    EXPECT_EQ(250, r.bottom);
    std::vector<UINT> moves = MessagesOf(top);
    ASSERT_EQ(std::vector<UINT>{WM_MOVE}, moves);
    EXPECT_EQ(MAKELPARAM(100, 50), log()[0].lParam);
    // Where the child was before the move, nothing of ours is now.
    Sink().PointerMoved(15, 15);
    Sink().PointerMoved(115, 65);
    Pump();
    std::vector<LoggedMessage> pointer;
    for (const LoggedMessage &m : log())
        if (m.message == WM_MOUSEMOVE) pointer.push_back(m);
    ASSERT_EQ(1u, pointer.size());
    EXPECT_EQ(child, pointer[0].hwnd);
    EXPECT_EQ(MAKELPARAM(5, 5), pointer[0].lParam);
    // The same place again is no move.
    log().clear();
    Sink().NativeWindowMoved((uintptr_t)top, 100, 50);
    EXPECT_TRUE(MessagesOf(top).empty());
}

TEST_F(NativeDialogTest, AWindowTheWindowManagerFocusesBecomesActive) {
    HWND first = MakeWindow("Plain", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200);
    HWND second = MakeWindow("Plain", WS_POPUP | WS_VISIBLE, 400, 0, 300, 200);
    ASSERT_EQ(second, GetActiveWindow());
    EXPECT_EQ((uintptr_t)second, LastFocused());
    native.focused.clear();
    Sink().NativeWindowFocused((uintptr_t)first);
    EXPECT_EQ(first, GetActiveWindow());
    EXPECT_EQ(first, GetFocus());
    // Hidden windows and children are not the display's to activate.
    HWND child = MakeWindow("Plain", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, second);
    ShowWindow(second, SW_HIDE);
    Sink().NativeWindowFocused((uintptr_t)second);
    Sink().NativeWindowFocused((uintptr_t)child);
    EXPECT_EQ(first, GetActiveWindow());
}
