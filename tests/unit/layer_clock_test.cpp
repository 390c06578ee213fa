// The virtual clock and timers: what a message loop sees when the only thing
// left to do is wait.
#include "layer_fixture.h"

class LayerClockTest : public LayerTest {};

TEST_F(LayerClockTest, VirtualClockMovesOnlyWhenTold) {
    EXPECT_FALSE(layer::ClockIsVirtual());
    layer::SetTickCount(1000);
    EXPECT_TRUE(layer::ClockIsVirtual());
    EXPECT_EQ(1000u, GetTickCount());
    Sleep(50);
    EXPECT_EQ(1050u, GetTickCount());
    layer::AdvanceTicks(10);
    EXPECT_EQ(1060u, GetTickCount());
    Sleep(0);
    EXPECT_EQ(1060u, GetTickCount());
}

TEST_F(LayerClockTest, WaitingLoopJumpsToTheNextTimerAndRestartsItsPeriod) {
    RegisterLogging();
    HWND w = MakeWindow("LayerTestClass", WS_POPUP, 0, 0, 10, 10);
    layer::SetTickCount(5000);
    ASSERT_EQ(7u, SetTimer(w, 7, 250, nullptr));
    MSG m;
    ASSERT_EQ(TRUE, GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(WM_TIMER, m.message);
    EXPECT_EQ(w, m.hwnd);
    EXPECT_EQ(7u, m.wParam);
    EXPECT_EQ(5250u, GetTickCount());
    EXPECT_EQ(5250u, m.time);
    // The next period runs from when the message was taken.
    layer::AdvanceTicks(100);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    ASSERT_EQ(TRUE, GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(WM_TIMER, m.message);
    EXPECT_EQ(5500u, GetTickCount());
}

TEST_F(LayerClockTest, EarliestOfSeveralTimersWins) {
    RegisterLogging();
    HWND w = MakeWindow("LayerTestClass", WS_POPUP, 0, 0, 10, 10);
    layer::SetTickCount(0);
    SetTimer(w, 1, 300, nullptr);
    SetTimer(w, 2, 120, nullptr);
    MSG m;
    ASSERT_EQ(TRUE, GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(2u, m.wParam);
    EXPECT_EQ(120u, GetTickCount());
}

TEST_F(LayerClockTest, MissedPeriodsGiveOneMessageAndNoRemoveLeavesItPending) {
    RegisterLogging();
    HWND w = MakeWindow("LayerTestClass", WS_POPUP, 0, 0, 10, 10);
    layer::SetTickCount(0);
    SetTimer(w, 3, 100, nullptr);
    layer::AdvanceTicks(1000);
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, w, WM_TIMER, WM_TIMER, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageA(&m, w, WM_TIMER, WM_TIMER, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageA(&m, w, WM_TIMER, WM_TIMER, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(&m, w, WM_TIMER, WM_TIMER, PM_REMOVE));
    layer::AdvanceTicks(99);
    EXPECT_FALSE(PeekMessageA(&m, w, WM_TIMER, WM_TIMER, PM_REMOVE));
    layer::AdvanceTicks(1);
    EXPECT_TRUE(PeekMessageA(&m, w, WM_TIMER, WM_TIMER, PM_REMOVE));
}

TEST_F(LayerClockTest, TimersMeasureElapsedTimeAcrossTheTickWrap) {
    RegisterLogging();
    HWND w = MakeWindow("LayerTestClass", WS_POPUP, 0, 0, 10, 10);
    layer::SetTickCount(0xFFFFFF00u);
    SetTimer(w, 1, 0x200, nullptr);
    MSG m;
    ASSERT_EQ(TRUE, GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(WM_TIMER, m.message);
    EXPECT_EQ(0x100u, GetTickCount());
}

TEST_F(LayerClockTest, IdleHookActsBeforeTheClockJumps) {
    RegisterLogging();
    HWND w = MakeWindow("LayerTestClass", WS_POPUP, 0, 0, 10, 10);
    layer::SetTickCount(100);
    SetTimer(w, 1, 500, nullptr);
    std::vector<DWORD> seen;
    layer::SetIdleHook([&] {
        seen.push_back(GetTickCount());
        if (seen.size() == 1) PostMessageA(w, WM_USER + 1, 0, 0);
    });
    MSG m;
    ASSERT_EQ(TRUE, GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(WM_USER + 1u, m.message);
    ASSERT_EQ(TRUE, GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(WM_TIMER, m.message);
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(100u, seen[0]);
    EXPECT_EQ(100u, seen[1]);
    EXPECT_EQ(600u, GetTickCount());
}

static int timerProcCalls = 0;
static HWND timerProcWindow = reinterpret_cast<HWND>(1);
static void CALLBACK CountingTimerProc(HWND hwnd, UINT, UINT_PTR, DWORD) {
    ++timerProcCalls;
    timerProcWindow = hwnd;
}

TEST_F(LayerClockTest, ThreadTimerCallsItsProcedureAndForgedCallbacksAreIgnored) {
    timerProcCalls = 0;
    layer::SetTickCount(0);
    UINT_PTR id = SetTimer(nullptr, 0, 50, CountingTimerProc);
    ASSERT_NE(0u, id);
    MSG m;
    ASSERT_EQ(TRUE, GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(WM_TIMER, m.message);
    EXPECT_EQ(nullptr, m.hwnd);
    EXPECT_EQ(id, m.wParam);
    DispatchMessageA(&m);
    EXPECT_EQ(1, timerProcCalls);
    EXPECT_EQ(nullptr, timerProcWindow);

    // A WM_TIMER whose lParam is not a live timer's callback calls nothing.
    MSG forged = m;
    forged.wParam = id + 1;
    DispatchMessageA(&forged);
    KillTimer(nullptr, id);
    DispatchMessageA(&m);
    EXPECT_EQ(1, timerProcCalls);
}

TEST_F(LayerClockTest, InjectedSetTimerFaultFailsOnceThenTimersWork) {
    RegisterLogging();
    HWND w = MakeWindow("LayerTestClass", WS_POPUP, 0, 0, 10, 10);
    layer::InjectFault("SetTimer");
    EXPECT_EQ(0u, SetTimer(w, 4, 66, nullptr));
    EXPECT_NE(0u, GetLastError());
    EXPECT_EQ(4u, SetTimer(w, 4, 66, nullptr));
}
