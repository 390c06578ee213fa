// When input closes the saver, and how the system's password verifier is
// found, asked and rate-limited.
#include "host_fixture.h"

namespace {

// The fake verifier's script: what it answers, how long the user takes, and
// whatever it does while it runs (it may pump messages, as the real one does).
struct VerifierScript {
    std::vector<BOOL> answers;
    DWORD takesMs = 0;
    DWORD endsAtTick = 0;  // when nonzero, the clock reads this on return
    std::function<void(HWND)> whileRunning;
    int calls = 0;
    std::vector<HWND> windows;
};
VerifierScript verifier;

BOOL WINAPI FakeVerifyScreenSavePwd(HWND window)
{
    int call = verifier.calls++;
    verifier.windows.push_back(window);
    if (verifier.whileRunning)
        verifier.whileRunning(window);
    if (verifier.takesMs)
        layer::AdvanceTicks(verifier.takesMs);
    if (verifier.endsAtTick)
        layer::SetTickCount(verifier.endsAtTick);
    return call < static_cast<int>(verifier.answers.size()) ? verifier.answers[call] : TRUE;
}

class CloseTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        verifier = VerifierScript{};
    }

    static void InstallVerifier()
    {
        layer::RegisterLibrary("PASSWORD.CPL", {{"VerifyScreenSavePwd", AsFarProc(FakeVerifyScreenSavePwd)}});
    }

    // A full-screen run with input injected at idle moments; returns the
    // number of steps that ran before the window went away.
    size_t RunWithInput(std::vector<std::function<void()>> steps, int *result = nullptr)
    {
        ScriptIdle(std::move(steps));
        int code = RunSaverWindow(nullptr);
        if (result)
            *result = code;
        return scriptRanOut ? script.size() + 1 : stepsRun;
    }
};

TEST_F(CloseTest, KeysAndButtonsCloseAFullScreenRun)
{
    struct Case {
        const char *name;
        std::function<void()> press;
    } cases[] = {
        {"key", [] { layer::InjectKey('Q', true); }},
        {"alt key", [] { layer::InjectKey(VK_MENU, true, true); }},
        {"left", [] { layer::InjectButton(layer::Button::Left, true); }},
        {"right", [] { layer::InjectButton(layer::Button::Right, true); }},
        {"middle", [] { layer::InjectButton(layer::Button::Middle, true); }},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        int result = -2;
        EXPECT_EQ(1u, RunWithInput({c.press}, &result));
        EXPECT_EQ(0, result);
        EXPECT_EQ(1, HostState.closing);
    }
}

TEST_F(CloseTest, MouseMovementMustExceedFourPixelsFromTheSavedPoint)
{
    // Distance 4 stays, 5 closes.
    EXPECT_EQ(2u, RunWithInput({[] { layer::InjectMouseMove(103, 101); },
                                [] {
                                    EXPECT_EQ(0, HostState.closing);
                                    layer::InjectMouseMove(97, 98);
                                }}));
    EXPECT_EQ(1, HostState.closing);

    // Two moves of 3 in one direction close on the second: drift adds up.
    SetUp();
    EXPECT_EQ(2u, RunWithInput({[] { layer::InjectMouseMove(103, 100); }, [] { layer::InjectMouseMove(106, 100); }}));

    // Back and forth within the threshold never closes.
    SetUp();
    EXPECT_EQ(5u, RunWithInput({[] { layer::InjectMouseMove(104, 100); }, [] { layer::InjectMouseMove(100, 104); },
                                [] { layer::InjectMouseMove(96, 100); }, [] { layer::InjectMouseMove(100, 100); }}));
    EXPECT_TRUE(scriptRanOut);
}

TEST_F(CloseTest, TheMessagesOwnCoordinatesAreNotTrusted)
{
    // A move message whose lParam claims a far point, with the cursor still.
    EXPECT_EQ(3u, RunWithInput({[] { PostMessageA(HostState.window, WM_MOUSEMOVE, 0, MAKELPARAM(600, 400)); },
                                [] { EXPECT_EQ(0, HostState.closing); }}));
    EXPECT_TRUE(scriptRanOut);
}

TEST_F(CloseTest, ReleasesCharactersAndTheWheelCloseNothing)
{
    RunWithInput({[] {
                      layer::InjectKey('Q', false);
                      layer::InjectButton(layer::Button::Left, false);
                      layer::InjectButton(layer::Button::Right, false);
                      layer::InjectButton(layer::Button::Middle, false);
                      layer::InjectWheel(-WHEEL_DELTA);
                      PostMessageA(HostState.window, WM_CHAR, 'q', 0);
                      PostMessageA(HostState.window, WM_KEYUP, 'Q', 0);
                  },
                  [] { EXPECT_EQ(0, HostState.closing); }});
    EXPECT_TRUE(scriptRanOut);
}

TEST_F(CloseTest, APreviewNeverClosesOnInputNorHidesTheCursor)
{
    HWND panel = MakeHostingWindow();
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    SetCursor(arrow);
    HWND preview = nullptr;
    ScriptIdle({[&] {
                    preview = HostState.window;
                    for (UINT input : {WM_KEYDOWN, WM_SYSKEYDOWN, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN,
                                       WM_SETCURSOR})
                        SendMessageA(preview, input, 0, 0);
                    layer::SetCursorPosition(500, 400);
                    SendMessageA(preview, WM_MOUSEMOVE, 0, 0);
                },
                [&] {
                    MSG m;
                    EXPECT_FALSE(PeekMessageA(&m, preview, WM_CLOSE, WM_CLOSE, PM_NOREMOVE));
                    EXPECT_EQ(arrow, layer::CurrentCursor());
                    EXPECT_TRUE(IsWindow(preview));
                    // A close request itself is obeyed at once, unasked.
                    SendMessageA(preview, WM_CLOSE, 0, 0);
                },
                [&] { ADD_FAILURE() << "the preview survived WM_CLOSE"; }});
    EXPECT_EQ(0, RunSaverWindow(panel));
    EXPECT_FALSE(IsWindow(preview));
    EXPECT_TRUE(IsWindow(panel));
    EXPECT_EQ(0, layer::LibraryLoadRequests("PASSWORD.CPL"));
}

TEST_F(CloseTest, AFullScreenRunKeepsTheCursorHidden)
{
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    HCURSOR after = arrow;
    LRESULT handled = 0;
    RunWithInput({[&] {
        SetCursor(arrow);
        handled = SendMessageA(HostState.window, WM_SETCURSOR, reinterpret_cast<WPARAM>(HostState.window),
                               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        after = layer::CurrentCursor();
        SetCursor(arrow);
        SendMessageA(HostState.window, WM_SHOWWINDOW, FALSE, 0);
        EXPECT_EQ(arrow, layer::CurrentCursor()) << "hiding the window is no reason to hide the cursor";
        SendMessageA(HostState.window, WM_SHOWWINDOW, TRUE, 0);
        EXPECT_EQ(nullptr, layer::CurrentCursor());
    }});
    EXPECT_EQ(1, handled);
    EXPECT_EQ(nullptr, after);
}

TEST_F(CloseTest, TheVerifierIsLoadedOnlyWhenPasswordsAreOn)
{
    InstallVerifier();
    LoadPasswordVerifier();
    EXPECT_EQ(nullptr, HostState.verifierProc) << "no desktop key";
    EXPECT_EQ(0, layer::LibraryLoadRequests("PASSWORD.CPL"));

    TurnPasswordOn(0);
    LoadPasswordVerifier();
    EXPECT_EQ(nullptr, HostState.verifierProc) << "switched off";
    EXPECT_EQ(0, layer::LibraryLoadRequests("PASSWORD.CPL"));

    TurnPasswordOn(1);
    LoadPasswordVerifier();
    EXPECT_NE(nullptr, HostState.verifierProc);
    EXPECT_EQ(1, layer::LibraryReferences("PASSWORD.CPL"));
    EXPECT_TRUE(layer::ScreenSaverRunning());

    // Loading again first lets go of the old one.
    LoadPasswordVerifier();
    EXPECT_EQ(1, layer::LibraryReferences("PASSWORD.CPL"));

    UnloadPasswordVerifier();
    EXPECT_EQ(nullptr, HostState.verifierLibrary);
    EXPECT_EQ(nullptr, HostState.verifierProc);
    EXPECT_EQ(0, layer::LibraryReferences("PASSWORD.CPL"));
    EXPECT_FALSE(layer::ScreenSaverRunning());
}

TEST_F(CloseTest, OddPasswordSwitchValues)
{
    InstallVerifier();
    HKEY desktop;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &desktop, nullptr));
    struct Case {
        DWORD type;
        std::vector<BYTE> data;
        bool on;
    } cases[] = {
        {REG_SZ, {'1', 0}, true},           // the desktop keeps it as text
        {REG_SZ, {'0', 0}, true},           // "0" is nonzero bytes all the same
        {REG_BINARY, {0}, false},           // one zero byte: the rest reads as zero
        {REG_BINARY, {1, 0, 0, 0, 0}, false},  // too long to read
        {REG_DWORD, {0, 0, 0, 1}, true},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.type << " size " << c.data.size());
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(desktop, "ScreenSaveUsePassword", 0, c.type, c.data.data(),
                                                static_cast<DWORD>(c.data.size())));
        LoadPasswordVerifier();
        EXPECT_EQ(c.on, HostState.verifierProc != nullptr);
        UnloadPasswordVerifier();
    }
    RegCloseKey(desktop);
}

TEST_F(CloseTest, AVerifierLibraryWithoutTheEntryIsLetGo)
{
    TurnPasswordOn();
    layer::RegisterLibrary("PASSWORD.CPL", {{"SomethingElse", AsFarProc(FakeVerifyScreenSavePwd)}});
    LoadPasswordVerifier();
    EXPECT_EQ(nullptr, HostState.verifierLibrary);
    EXPECT_EQ(nullptr, HostState.verifierProc);
    EXPECT_EQ(0, layer::LibraryReferences("PASSWORD.CPL"));
    EXPECT_FALSE(layer::ScreenSaverRunning());
}

TEST_F(CloseTest, WithoutAVerifierTheFirstRequestCloses)
{
    TurnPasswordOn();  // switched on, but the system has no verifier
    int result = -2;
    EXPECT_EQ(1u, RunWithInput({[] { layer::InjectKey(VK_SPACE, true); }}, &result));
    EXPECT_EQ(0, result);
    EXPECT_FALSE(layer::ScreenSaverRunning());
}

TEST_F(CloseTest, ARefusalBlocksRequestsFor200MsFromTheVerifiersReturn)
{
    TurnPasswordOn();
    InstallVerifier();
    verifier.answers = {FALSE, FALSE, TRUE};
    verifier.takesMs = 5000;  // the user typed for five seconds
    bool runningDuring = false;
    int result = -2;
    size_t steps = RunWithInput(
        {[&] {
             runningDuring = layer::ScreenSaverRunning();
             layer::InjectKey('A', true);  // asks: refused at 1000 + 5000
         },
         [&] {
             EXPECT_EQ(1, verifier.calls);
             EXPECT_EQ(6000u, HostState.lastVerifyTick);
             EXPECT_EQ(nullptr, layer::CurrentCursor()) << "cursor not hidden again after the refusal";
             layer::AdvanceTicks(199);
             layer::InjectKey('A', true);  // too soon: refused unasked
         },
         [&] {
             EXPECT_EQ(1, verifier.calls);
             EXPECT_TRUE(IsWindow(HostState.window));
             layer::AdvanceTicks(1);
             layer::InjectKey('A', true);  // 200 ms after: asks, refused
         },
         [&] {
             EXPECT_EQ(2, verifier.calls);
             layer::AdvanceTicks(200);
             layer::InjectMouseMove(300, 300);  // asks, approved
         }},
        &result);
    EXPECT_EQ(4u, steps);
    EXPECT_EQ(0, result);
    EXPECT_EQ(3, verifier.calls);
    EXPECT_TRUE(runningDuring);
    EXPECT_FALSE(layer::ScreenSaverRunning()) << "running state left set after the run";
    EXPECT_EQ(0, layer::LibraryReferences("PASSWORD.CPL"));
}

TEST_F(CloseTest, ARefusedCloseMeasuresTheMouseAfresh)
{
    TurnPasswordOn();
    InstallVerifier();
    verifier.answers = {FALSE};
    RunWithInput({[] { layer::InjectMouseMove(200, 200); },
                  [] {
                      EXPECT_EQ(200, HostState.savedCursor.x);
                      layer::AdvanceTicks(1000);
                      layer::InjectMouseMove(203, 201);  // 4 from the new point: stays
                  },
                  [] { EXPECT_EQ(1, verifier.calls); }});
    EXPECT_TRUE(scriptRanOut);
}

TEST_F(CloseTest, ARequestDuringVerificationIsRefusedWithoutAskingTwice)
{
    TurnPasswordOn();
    InstallVerifier();
    verifier.answers = {FALSE};
    LRESULT nestedClose = -1;
    BOOL nestedVerify = TRUE;
    verifier.whileRunning = [&](HWND window) {
        // The verifier's own dialog pumps messages: input meanwhile must
        // neither close the saver nor hide the cursor.
        nestedVerify = VerifyBeforeClose(window);
        nestedClose = SendMessageA(window, WM_CLOSE, 0, 0);
        HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
        SetCursor(arrow);
        SendMessageA(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        EXPECT_EQ(arrow, layer::CurrentCursor());
        SendMessageA(window, WM_KEYDOWN, 'X', 0);
        MSG m;
        EXPECT_FALSE(PeekMessageA(&m, window, WM_CLOSE, WM_CLOSE, PM_NOREMOVE));
    };
    RunWithInput({[] { layer::InjectKey('A', true); }, [] {}});
    EXPECT_EQ(1, verifier.calls);
    EXPECT_FALSE(nestedVerify);
    EXPECT_EQ(0, nestedClose);
    EXPECT_TRUE(scriptRanOut);
}

TEST_F(CloseTest, TheIntervalSurvivesTheTickCounterWrapping)
{
    TurnPasswordOn();
    InstallVerifier();
    verifier.answers = {FALSE, FALSE, FALSE};
    verifier.endsAtTick = 0xFFFFFF80;  // 128 ms before the wrap
    RunWithInput({[] { layer::InjectKey('A', true); },
                  [] {
                      EXPECT_EQ(0xFFFFFF80u, HostState.lastVerifyTick);
                      verifier.endsAtTick = 0;
                      layer::SetTickCount(0x00000040);  // 192 ms later, across the wrap
                      layer::InjectKey('A', true);
                  },
                  [] {
                      EXPECT_EQ(1, verifier.calls);
                      layer::SetTickCount(0x00000048);  // 200 ms later
                      layer::InjectKey('A', true);
                  },
                  [] { EXPECT_EQ(2, verifier.calls); }});
    EXPECT_TRUE(scriptRanOut);
}

TEST_F(CloseTest, AVerificationEndingAtTheLastTickCountsAsNone)
{
    TurnPasswordOn();
    InstallVerifier();
    verifier.answers = {FALSE, FALSE};
    verifier.endsAtTick = 0xFFFFFFFF;
    RunWithInput({[] { layer::InjectKey('A', true); },
                  [] {
                      verifier.endsAtTick = 0;
                      layer::SetTickCount(5);
                      layer::InjectKey('A', true);
                  },
                  [] { EXPECT_EQ(2, verifier.calls); }});
    EXPECT_TRUE(scriptRanOut);
}

TEST_F(CloseTest, UpToTwoPendingTicksAreDroppedBeforeAsking)
{
    TurnPasswordOn();
    InstallVerifier();
    verifier.answers = {FALSE};
    int ticksLeft = -1;
    RunWithInput({[&] {
        HWND w = HostState.window;
        for (UINT_PTR id : {1, 2, 3})
            SetTimer(w, id, 10, nullptr);
        layer::AdvanceTicks(50);  // all three due
        EXPECT_FALSE(VerifyBeforeClose(w));
        ticksLeft = 0;
        MSG m;
        while (PeekMessageA(&m, w, WM_TIMER, WM_TIMER, PM_REMOVE))
            ++ticksLeft;
        for (UINT_PTR id : {1, 2, 3})
            KillTimer(w, id);
    }});
    EXPECT_EQ(1, verifier.calls);
    EXPECT_EQ(1, ticksLeft);
}

TEST_F(CloseTest, TheVerifierIsAskedThroughTheWindowsOwnProcedure)
{
    TurnPasswordOn();
    InstallVerifier();
    verifier.answers = {TRUE};
    HWND window = nullptr;
    RunWithInput({[&] {
        window = HostState.window;
        layer::InjectKey('A', true);
    }});
    ASSERT_EQ(1u, verifier.windows.size());
    EXPECT_EQ(window, verifier.windows[0]);

    // Without a verifier the private message simply approves.
    HostState = HostStateRecord{};
    HostState.instance = instance;
    EXPECT_EQ(1, HostDefaultProc(nullptr, VerifyPasswordMessage, 0, 0));
}

}  // namespace
