// ResetHeadless runs between all unit tests: whatever one test leaves
// behind must not reach the next.
#include "layer_fixture.h"

class LayerResetTest : public LayerTest {};

static INT_PTR WINAPI Nothing() { return 0; }

TEST_F(LayerResetTest, ResetForgetsEverything) {
    RegisterLogging("Leftover", CS_OWNDC);
    HWND w = MakeWindow("Leftover", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, "Left");
    ASSERT_NE(nullptr, w);
    SetTimer(w, 1, 10, nullptr);
    SetTimer(nullptr, 0, 10, nullptr);
    PostMessageA(w, WM_USER, 0, 0);
    PostMessageA(nullptr, WM_USER, 0, 0);
    PostQuitMessage(3);
    layer::InjectKey('A', true);
    GetDC(w);
    WNDCLASSA plain = {};
    plain.lpfnWndProc = DefWindowProcA;
    plain.lpszClassName = "Plain";
    RegisterClassA(&plain);
    HWND other = MakeWindow("Plain", WS_POPUP, 0, 0, 5, 5);
    GetDC(other);  // never released
    ASSERT_GT(layer::LiveGdiObjects(), 0);
    layer::RegisterLibrary("PASSWORD.CPL", {{"VerifyScreenSavePwd", Nothing}}, true);
    LoadLibraryA("MPR.DLL");
    layer::InjectFault("RegisterClassA", 5);
    layer::SetTickCount(77);
    layer::SetCursorPosition(300, 200);
    SetCursor(nullptr);
    SystemParametersInfoA(SPI_SCREENSAVERRUNNING, 1, nullptr, 0);
    bool hookRan = false;
    layer::SetIdleHook([&] { hookRan = true; });
    MessageBoxA(nullptr, "box", "cap", MB_OK);
    layer::SetCommandLine("prog /s");

    layer::ResetHeadless(800, 600);

    EXPECT_FALSE(IsWindow(w));
    EXPECT_EQ(nullptr, FindWindowA(nullptr, "Left"));
    WNDCLASSA info;
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "Leftover", &info));
    MSG m;
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(0, layer::LiveGdiObjects());
    EXPECT_EQ(nullptr, GetModuleHandleA("PASSWORD.CPL"));
    EXPECT_EQ(0, layer::LibraryLoadRequests("MPR.DLL"));
    EXPECT_FALSE(layer::ClockIsVirtual());
    POINT p;
    GetCursorPos(&p);
    EXPECT_EQ(0, p.x);
    EXPECT_EQ(0, p.y);
    EXPECT_EQ(LoadCursorA(nullptr, IDC_ARROW), layer::CurrentCursor());
    EXPECT_FALSE(layer::ScreenSaverRunning());
    EXPECT_TRUE(layer::MessageBoxes().empty());
    EXPECT_STREQ("", GetCommandLineA());
    EXPECT_EQ(nullptr, GetForegroundWindow());
    EXPECT_EQ(nullptr, GetFocus());
    EXPECT_EQ(800, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(600, GetSystemMetrics(SM_CYSCREEN));
    RECT desk;
    ASSERT_TRUE(GetWindowRect(GetDesktopWindow(), &desk));
    EXPECT_EQ(800, desk.right);
    EXPECT_EQ(600, desk.bottom);
    EXPECT_NE(0, RegisterClassA(&plain));  // no fault left over

    // The idle hook is gone too: a loop with a timer jumps straight to it.
    HWND fresh = MakeWindow("Plain", WS_POPUP, 0, 0, 5, 5);
    layer::SetTickCount(0);
    SetTimer(fresh, 9, 40, nullptr);
    ASSERT_EQ(TRUE, GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(WM_TIMER, m.message);
    EXPECT_FALSE(hookRan);
}

TEST_F(LayerResetTest, HandlesFromBeforeAResetNameNothing) {
    RegisterLogging();
    HWND before = MakeWindow("LayerTestClass", WS_POPUP, 0, 0, 5, 5);
    layer::ResetHeadless(640, 480);
    log().clear();
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(before, WM_USER, 0, 0));
    EXPECT_EQ((DWORD)ERROR_INVALID_WINDOW_HANDLE, GetLastError());
    EXPECT_EQ(0, SendMessageA(before, WM_USER, 0, 0));
    EXPECT_TRUE(log().empty());
}
