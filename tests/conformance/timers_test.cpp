// Window timers: the saver's animation runs off one, so how ticks are
// synthesised, merged, ordered against other messages and stopped decides
// whether frames pile up or input gets starved.
#include "conformance.h"

namespace {

class Timers : public Win32Test {};

// Waits until the timer is due without consuming it.
bool TimerDue(HWND window) {
    MSG msg;
    return WaitForMessage(&msg, window, WM_TIMER, WM_TIMER, PM_NOREMOVE);
}

// True when no WM_TIMER for `window` shows up within `ms`.
bool NoTimerFor(HWND window, DWORD ms) {
    MSG msg;
    return !WaitForMessage(&msg, window, WM_TIMER, WM_TIMER, PM_REMOVE, ms);
}

TEST_F(Timers, WindowTimerDeliversItsIdToTheWindow) {
    HWND window = MakeQuietWindow();
    EXPECT_NE(0u, SetTimer(window, 204, 10, NULL));

    MSG msg = {};
    ASSERT_TRUE(WaitForMessage(&msg, window, WM_TIMER, WM_TIMER));
    EXPECT_EQ(window, msg.hwnd);
    EXPECT_EQ(204u, msg.wParam);
    EXPECT_EQ(0, msg.lParam) << "no timer procedure was given";

    SeenLog().clear();
    DispatchMessageA(&msg);
    int at = FindSeen(window, WM_TIMER);
    ASSERT_GE(at, 0);
    EXPECT_EQ(204u, SeenLog()[at].wParam);
    EXPECT_TRUE(KillTimer(window, 204));
}

// The saver's loop blocks in GetMessageA between frames: it must wake for the tick.
TEST_F(Timers, GetMessageWaitsForTheNextTick) {
    HWND window = MakeQuietWindow();
    DrainQueue();
    ASSERT_NE(0u, SetTimer(window, 204, 40, NULL));
    DWORD start = GetTickCount();
    MSG msg = {};
    for (int i = 0; i < 100 && GetMessageA(&msg, NULL, 0, 0) > 0 && msg.message != WM_TIMER; ++i)
        DispatchMessageA(&msg);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(static_cast<UINT>(WM_TIMER), msg.message);
    EXPECT_EQ(window, msg.hwnd);
    EXPECT_GE(elapsed, 20u) << "a tick came long before its period";
    EXPECT_LT(elapsed, 3000u);
    KillTimer(window, 204);
}

TEST_F(Timers, PostedMessagesComeBeforeADueTimer) {
    HWND window = MakeQuietWindow();
    ASSERT_NE(0u, SetTimer(window, 9, 10, NULL));
    ASSERT_TRUE(TimerDue(window));
    ASSERT_TRUE(PostMessageA(window, WM_APP + 1, 0, 0));
    ASSERT_TRUE(PostMessageA(window, WM_APP + 2, 0, 0));

    MSG msg = {};
    ASSERT_TRUE(NextOf(&msg, {WM_APP + 1, WM_APP + 2, WM_TIMER}));
    EXPECT_EQ(WM_APP + 1u, msg.message);
    ASSERT_TRUE(NextOf(&msg, {WM_APP + 1, WM_APP + 2, WM_TIMER}));
    EXPECT_EQ(WM_APP + 2u, msg.message);
    ASSERT_TRUE(NextOf(&msg, {WM_APP + 1, WM_APP + 2, WM_TIMER}));
    EXPECT_EQ(static_cast<UINT>(WM_TIMER), msg.message);
    EXPECT_EQ(9u, msg.wParam);
    KillTimer(window, 9);
}

TEST_F(Timers, TicksMissedWhileNobodyPumpsArriveAsOneMessage) {
    HWND window = MakeQuietWindow();
    ASSERT_NE(0u, SetTimer(window, 3, 30, NULL));
    MSG msg = {};
    ASSERT_TRUE(WaitForMessage(&msg, window, WM_TIMER, WM_TIMER));

    Sleep(250);  // about eight periods with nobody taking messages

    int ticks = 0;
    while (ticks < 20 && PeekMessageA(&msg, window, WM_TIMER, WM_TIMER, PM_REMOVE)) ++ticks;
    EXPECT_EQ(1, ticks);
    KillTimer(window, 3);
}

TEST_F(Timers, TimerRangePeekTakesADueTimerPastQueuedMessages) {
    HWND window = MakeQuietWindow();
    ASSERT_TRUE(PostMessageA(window, WM_APP + 1, 0, 0));
    ASSERT_TRUE(PostMessageA(window, WM_APP + 2, 0, 0));
    ASSERT_NE(0u, SetTimer(window, 5, 10, NULL));

    MSG msg = {};
    ASSERT_TRUE(WaitForMessage(&msg, window, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD));
    EXPECT_EQ(static_cast<UINT>(WM_TIMER), msg.message);
    EXPECT_EQ(5u, msg.wParam);
    KillTimer(window, 5);

    // The posted messages were left where they were.
    ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
    EXPECT_EQ(WM_APP + 1u, msg.message);
    ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
    EXPECT_EQ(WM_APP + 2u, msg.message);
}

TEST_F(Timers, KillTimerStopsTheTimerAndRejectsUnknownIds) {
    HWND window = MakeQuietWindow();
    ASSERT_NE(0u, SetTimer(window, 11, 10, NULL));
    EXPECT_TRUE(KillTimer(window, 11));
    EXPECT_TRUE(NoTimerFor(window, 150));

    EXPECT_FALSE(KillTimer(window, 11)) << "already killed";
    EXPECT_FALSE(KillTimer(window, 999));
    ASSERT_NE(0u, SetTimer(window, 12, 10, NULL));
    EXPECT_FALSE(KillTimer(window, 13)) << "another id of the same window";
    EXPECT_TRUE(KillTimer(window, 12));
}

TEST_F(Timers, DestroyingAWindowStopsItsTimers) {
    HWND window = MakeQuietWindow();
    ASSERT_NE(0u, SetTimer(window, 21, 10, NULL));
    ASSERT_NE(0u, SetTimer(window, 22, 15, NULL));
    ASSERT_TRUE(DestroyWindow(window));

    MSG msg;
    DWORD start = GetTickCount();
    bool ticked = false;
    while (GetTickCount() - start < 150) {
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_TIMER && msg.hwnd == window) ticked = true;
        }
        Sleep(5);
    }
    EXPECT_FALSE(ticked);
    EXPECT_FALSE(KillTimer(window, 21));
}

// A window that never validates keeps its paint pending: timers must wait for it.
TEST_F(Timers, PendingPaintComesBeforeADueTimer) {
    HWND window = MakeWindow(RegisterTestClass(RecordingProc), WS_POPUP | WS_VISIBLE);
    ASSERT_NE(0u, SetTimer(window, 31, 10, NULL));
    ASSERT_TRUE(TimerDue(window));
    InvalidateRect(window, NULL, FALSE);

    MSG msg = {};
    ASSERT_TRUE(NextOf(&msg, {WM_PAINT, WM_TIMER}));
    EXPECT_EQ(static_cast<UINT>(WM_PAINT), msg.message);
    DispatchMessageA(&msg);  // the default procedure validates
    ASSERT_TRUE(NextOf(&msg, {WM_PAINT, WM_TIMER}));
    EXPECT_EQ(static_cast<UINT>(WM_TIMER), msg.message);
    KillTimer(window, 31);
}

}  // namespace
