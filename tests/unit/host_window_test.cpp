// The saver window as the host makes it, and how its procedure treats each
// message, in a full-screen run and in a preview.
#include "host_fixture.h"

namespace {

struct ImeCall {
    HWND window;
    HostInputContext context;
};
std::vector<ImeCall> imeCalls;
HostInputContext contextToHandBack;

HostInputContext WINAPI FakeImmAssociateContext(HWND window, HostInputContext context)
{
    imeCalls.push_back({window, context});
    return contextToHandBack;
}

class SaverWindowTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        imeCalls.clear();
        contextToHandBack = reinterpret_cast<HostInputContext>(0x1234);
    }
};

TEST_F(SaverWindowTest, FullScreenWindowIsATopmostPopupOverTheWholeDesktop)
{
    HWND window = nullptr;
    char className[64] = "", title[64] = "";
    RECT rect = {};
    LONG style = 0, exStyle = 0;
    HWND foreground = nullptr;
    WNDCLASSA saverClass = {};
    ScriptIdle({[&] {
        window = HostState.window;
        GetClassNameA(window, className, sizeof className);
        GetWindowTextA(window, title, sizeof title);
        GetWindowRect(window, &rect);
        style = GetWindowLongA(window, GWL_STYLE);
        exStyle = GetWindowLongA(window, GWL_EXSTYLE);
        foreground = GetForegroundWindow();
        GetClassInfoA(instance, "WindowsScreenSaverClass", &saverClass);
    }});
    EXPECT_EQ(0, RunSaverWindow(nullptr));
    ASSERT_NE(nullptr, window);
    EXPECT_STREQ("WindowsScreenSaverClass", className);
    EXPECT_STREQ("Screen Saver", title);
    EXPECT_EQ(0, rect.left);
    EXPECT_EQ(0, rect.top);
    EXPECT_EQ(640, rect.right);
    EXPECT_EQ(480, rect.bottom);
    EXPECT_EQ(static_cast<LONG>(0x96000000), style & static_cast<LONG>(0xFFFF0000));
    EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
    EXPECT_EQ(window, foreground);
    EXPECT_EQ(0x2Bu, saverClass.style);
    EXPECT_EQ(nullptr, saverClass.hCursor);
    EXPECT_EQ(nullptr, saverClass.hIcon);  // there is no icon 100
    EXPECT_EQ(GetStockObject(BLACK_BRUSH), saverClass.hbrBackground);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(SaverWindowTest, PreviewIsAChildFillingTheControlPanelWindow)
{
    HWND panel = MakeHostingWindow(200, 150);
    HWND foregroundBefore = GetForegroundWindow();
    HWND window = nullptr, parent = nullptr, foreground = nullptr;
    char title[64] = "";
    RECT client = {};
    LONG style = 0, exStyle = 0;
    ScriptIdle({[&] {
                    window = HostState.window;
                    parent = GetParent(window);
                    GetWindowTextA(window, title, sizeof title);
                    GetClientRect(window, &client);
                    style = GetWindowLongA(window, GWL_STYLE);
                    exStyle = GetWindowLongA(window, GWL_EXSTYLE);
                    foreground = GetForegroundWindow();
                },
                [&] { DestroyWindow(panel); }});
    EXPECT_EQ(0, RunSaverWindow(panel));
    EXPECT_EQ(1, HostState.previewMode);
    EXPECT_EQ(panel, parent);
    EXPECT_STREQ("Preview", title);
    EXPECT_EQ(200, client.right);
    EXPECT_EQ(150, client.bottom);
    EXPECT_EQ(static_cast<LONG>(0x52000000), style & static_cast<LONG>(0xFFFF0000));
    EXPECT_EQ(0, exStyle & WS_EX_TOPMOST);
    EXPECT_EQ(foregroundBefore, foreground);  // a preview never takes the foreground
    EXPECT_FALSE(scriptRanOut);
}

TEST_F(SaverWindowTest, ASecondFullScreenStartGivesWayToTheRunningOne)
{
    TurnPasswordOn();
    HWND first = nullptr;
    int secondResult = -2;
    int windowsDuringSecond = 0;
    ScriptIdle({[&] {
                    first = HostState.window;
                    HWND other = MakeHostingWindow();
                    SetForegroundWindow(other);
                    HostStateRecord saved = HostState;
                    secondResult = RunSaverWindow(nullptr);
                    HostState = saved;
                    windowsDuringSecond = IsWindow(first) ? 1 : 0;
                },
                [&] { EXPECT_EQ(first, GetForegroundWindow()); }});
    EXPECT_EQ(0, RunSaverWindow(nullptr));
    EXPECT_EQ(0, secondResult);
    EXPECT_EQ(1, windowsDuringSecond);
    // Only the first start looked for a verifier.
    EXPECT_EQ(1, layer::LibraryLoadRequests("PASSWORD.CPL"));
}

// Another process's running saver, as far as window look-up can tell.
static HWND MakeRunningSaverOfAnotherModule()
{
    HINSTANCE otherModule = reinterpret_cast<HINSTANCE>(0x5000);
    WNDCLASSA impostor = {};
    impostor.lpfnWndProc = DefWindowProcA;
    impostor.hInstance = otherModule;
    impostor.lpszClassName = "WindowsScreenSaverClass";
    EXPECT_NE(0, RegisterClassA(&impostor));
    return CreateWindowExA(WS_EX_TOPMOST, "WindowsScreenSaverClass", "Screen Saver", WS_POPUP | WS_VISIBLE, 0, 0,
                           640, 480, nullptr, nullptr, otherModule, nullptr);
}

TEST_F(SaverWindowTest, AFullScreenStartBringsARunningSaverForwardInstead)
{
    TurnPasswordOn();
    HWND running = MakeRunningSaverOfAnotherModule();
    ASSERT_NE(nullptr, running);
    SetForegroundWindow(MakeHostingWindow());
    EXPECT_EQ(0, RunSaverWindow(nullptr));
    EXPECT_EQ(running, GetForegroundWindow());
    EXPECT_EQ(nullptr, HostState.window);
    EXPECT_EQ(0, layer::LibraryLoadRequests("PASSWORD.CPL"));
    WNDCLASSA ours;
    EXPECT_FALSE(GetClassInfoA(instance, "WindowsScreenSaverClass", &ours)) << "a class was registered";
}

TEST_F(SaverWindowTest, APreviewIsMadeEvenWhileAFullScreenSaverRuns)
{
    HWND running = MakeRunningSaverOfAnotherModule();
    HWND panel = MakeHostingWindow();
    HWND preview = nullptr;
    ScriptIdle({[&] { preview = HostState.window; }, [&] { DestroyWindow(panel); }});
    EXPECT_EQ(0, RunSaverWindow(panel));
    EXPECT_NE(nullptr, preview);
    EXPECT_NE(running, preview);
    EXPECT_TRUE(IsWindow(running));
}

TEST_F(SaverWindowTest, AWindowThatCannotBeMadeIsAFailedRun)
{
    TurnPasswordOn();
    layer::RegisterLibrary("PASSWORD.CPL", {{"VerifyScreenSavePwd", AsFarProc(+[](HWND) -> BOOL { return 1; })}});

    layer::InjectFault("RegisterClassA");
    EXPECT_EQ(-1, RunSaverWindow(nullptr));
    EXPECT_EQ(0, layer::LibraryReferences("PASSWORD.CPL"));
    EXPECT_FALSE(layer::ScreenSaverRunning());

    HostState = HostStateRecord{};
    HostState.instance = instance;
    layer::InjectFault("CreateWindowExA");
    EXPECT_EQ(-1, RunSaverWindow(nullptr));
    EXPECT_EQ(nullptr, HostState.window);
    EXPECT_EQ(0, layer::LibraryReferences("PASSWORD.CPL"));
    EXPECT_FALSE(layer::ScreenSaverRunning());
}

TEST_F(SaverWindowTest, CreationSavesTheCursorAndHidesItOnlyFullScreen)
{
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    SetCursor(arrow);
    layer::SetCursorPosition(321, 123);
    HCURSOR during = arrow;
    ScriptIdle({[&] { during = layer::CurrentCursor(); }});
    RunSaverWindow(nullptr);
    EXPECT_EQ(nullptr, during);
    EXPECT_EQ(321, HostState.savedCursor.x);
    EXPECT_EQ(123, HostState.savedCursor.y);

    HostState = HostStateRecord{};
    HostState.instance = instance;
    layer::ResetHeadless(640, 480);
    HWND panel = MakeHostingWindow();
    SetCursor(arrow);
    layer::SetCursorPosition(50, 60);
    ScriptIdle({[&] {
                    during = layer::CurrentCursor();
                    SendMessageA(HostState.window, WM_PAINT, 0, 0);
                    SendMessageA(HostState.window, WM_SETCURSOR, reinterpret_cast<WPARAM>(HostState.window),
                                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
                    SendMessageA(HostState.window, WM_SHOWWINDOW, TRUE, 0);
                    EXPECT_EQ(arrow, layer::CurrentCursor());
                },
                [&] { DestroyWindow(panel); }});
    RunSaverWindow(panel);
    EXPECT_EQ(arrow, during);
    EXPECT_EQ(50, HostState.savedCursor.x);
    EXPECT_EQ(60, HostState.savedCursor.y);
}

TEST_F(SaverWindowTest, TheInputContextIsDetachedAndGivenBack)
{
    layer::RegisterLibrary("IMM32.DLL", {{"ImmAssociateContext", AsFarProc(FakeImmAssociateContext)}}, true);
    HWND window = nullptr;
    ScriptIdle({[&] { window = HostState.window; }});
    RunSaverWindow(nullptr);
    ASSERT_EQ(2u, imeCalls.size());
    EXPECT_EQ(window, imeCalls[0].window);
    EXPECT_EQ(nullptr, imeCalls[0].context);
    EXPECT_EQ(window, imeCalls[1].window);
    EXPECT_EQ(contextToHandBack, imeCalls[1].context);
    // Looked up, never loaded: the reference count is the system's alone.
    EXPECT_EQ(0, layer::LibraryLoadRequests("IMM32.DLL"));
}

TEST_F(SaverWindowTest, NoInputContextNoRestore)
{
    contextToHandBack = nullptr;
    layer::RegisterLibrary("IMM32.DLL", {{"ImmAssociateContext", AsFarProc(FakeImmAssociateContext)}}, true);
    ScriptIdle({});
    RunSaverWindow(nullptr);
    EXPECT_EQ(1u, imeCalls.size());

    // Present but not loaded in the process: left alone.
    layer::ResetHeadless(640, 480);
    HostState = HostStateRecord{};
    HostState.instance = instance;
    imeCalls.clear();
    layer::RegisterLibrary("IMM32.DLL", {{"ImmAssociateContext", AsFarProc(FakeImmAssociateContext)}}, false);
    ScriptIdle({});
    RunSaverWindow(nullptr);
    EXPECT_TRUE(imeCalls.empty());
}

TEST_F(SaverWindowTest, TheTitleCannotBeChanged)
{
    BOOL changed = TRUE;
    char title[64] = "";
    HWND found = nullptr;
    ScriptIdle({[&] {
        changed = SetWindowTextA(HostState.window, "Something else");
        GetWindowTextA(HostState.window, title, sizeof title);
        found = FindWindowA("WindowsScreenSaverClass", "Screen Saver");
    }});
    RunSaverWindow(nullptr);
    EXPECT_FALSE(changed);
    EXPECT_STREQ("Screen Saver", title);
    EXPECT_NE(nullptr, found);
}

TEST_F(SaverWindowTest, FullScreenIgnoresWindowSwitchingAndSaverStartCommands)
{
    bool aliveAfterSwallowed = false;
    ScriptIdle({[&] {
                    HWND w = HostState.window;
                    for (WPARAM command : {WPARAM(SC_NEXTWINDOW), WPARAM(SC_PREVWINDOW), WPARAM(SC_SCREENSAVE)})
                        EXPECT_EQ(0, SendMessageA(w, WM_SYSCOMMAND, command, 0));
                    aliveAfterSwallowed = IsWindow(w) && HostState.closing == 0;
                    // Any other system command goes on to the default handling.
                    SendMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0);
                },
                [&] { ADD_FAILURE() << "SC_CLOSE did not close the saver"; }});
    EXPECT_EQ(0, RunSaverWindow(nullptr));
    EXPECT_TRUE(aliveAfterSwallowed);
    EXPECT_EQ(1, HostState.closing);
}

TEST_F(SaverWindowTest, HelpAndContextMenusOfAPreviewGoToTheControlPanel)
{
    HWND panel = MakeHostingWindow();
    std::vector<MSG> forwarded;
    LRESULT helpResult = 0, menuResult = 0;
    ScriptIdle({[&] {
                    helpResult = SendMessageA(HostState.window, WM_HELP, 0, 0x55);
                    menuResult = SendMessageA(HostState.window, WM_CONTEXTMENU,
                                              reinterpret_cast<WPARAM>(HostState.window), MAKELPARAM(7, 9));
                    MSG m;
                    while (PeekMessageA(&m, panel, 0, 0, PM_REMOVE))
                        forwarded.push_back(m);
                },
                [&] { DestroyWindow(panel); }});
    RunSaverWindow(panel);
    EXPECT_EQ(1, helpResult);
    EXPECT_EQ(1, menuResult);
    // A help request carries a pointer, which the system refuses to post;
    // the preview answers it all the same.
    ASSERT_EQ(1u, forwarded.size());
    EXPECT_EQ(UINT(WM_CONTEXTMENU), forwarded[0].message);
    EXPECT_EQ(reinterpret_cast<WPARAM>(panel), forwarded[0].wParam);
    EXPECT_EQ(MAKELPARAM(7, 9), forwarded[0].lParam);
}

TEST_F(SaverWindowTest, FullScreenKeepsHelpAndContextMenusToItself)
{
    LRESULT menuResult = 1;
    ScriptIdle({[&] {
        menuResult = SendMessageA(HostState.window, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(HostState.window), 0);
    }});
    RunSaverWindow(nullptr);
    EXPECT_EQ(0, menuResult);
}

TEST_F(SaverWindowTest, OnceClosingTheWindowNeitherDrawsNorTicksNorListens)
{
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    ScriptIdle({[&] {
        HWND w = HostState.window;
        HostState.closing = 1;
        SetCursor(arrow);

        InvalidateRect(w, nullptr, FALSE);
        SendMessageA(w, WM_PAINT, 0, 0);
        RECT update;
        EXPECT_FALSE(GetUpdateRect(w, &update, FALSE)) << "paint was not validated";
        EXPECT_EQ(arrow, layer::CurrentCursor()) << "a closing saver hid the cursor";

        DWORD before = GetTickCount();
        EXPECT_EQ(0, SendMessageA(w, WM_TIMER, 204, 0));
        EXPECT_EQ(before, GetTickCount());

        for (UINT input : {WM_KEYDOWN, WM_SYSKEYDOWN, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN}) {
            SendMessageA(w, input, 0, 0);
        }
        layer::SetCursorPosition(400, 400);
        SendMessageA(w, WM_MOUSEMOVE, 0, 0);
        MSG m;
        EXPECT_FALSE(PeekMessageA(&m, w, WM_CLOSE, WM_CLOSE, PM_NOREMOVE)) << "input still requested a close";
    }});
    RunSaverWindow(nullptr);
    EXPECT_TRUE(scriptRanOut);
}

TEST_F(SaverWindowTest, PaintingFullScreenHidesTheCursorAgain)
{
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    HCURSOR afterPaint = arrow;
    ScriptIdle({[&] {
        SetCursor(arrow);
        InvalidateRect(HostState.window, nullptr, FALSE);
    },
                [&] { afterPaint = layer::CurrentCursor(); }});
    RunSaverWindow(nullptr);
    EXPECT_EQ(nullptr, afterPaint);
}

}  // namespace
