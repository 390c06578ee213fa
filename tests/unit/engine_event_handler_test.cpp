// The engine's handler inside the saver window: set-up and tear-down at
// creation and destruction, repaints from ticks, black erases.
#include "host_fixture.h"

#include <map>

#include "engine/engine.h"
#include "settings/settings.h"

namespace {

std::map<UINT, int> seen;

// The saver's own procedure, counting what passes through it.
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    ++seen[message];
    return HostWindowProc(window, message, wParam, lParam);
}

class EventHandlerTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        seen.clear();
        SaverSettings = SaverSettingsRecord{};
    }

    // A saver window outside any message loop, for single messages.
    HWND MakeSaverWindow(HWND parent = nullptr)
    {
        WNDCLASSA counting = {};
        counting.style = CS_OWNDC;
        counting.lpfnWndProc = CountingProc;
        counting.hInstance = instance;
        counting.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        counting.lpszClassName = "CountingSaver";
        RegisterClassA(&counting);
        HostState.previewMode = parent ? 1 : 0;
        RECT area = {0, 0, 64, 48};
        if (parent)
            GetClientRect(parent, &area);
        HWND window = CreateWindowExA(0, "CountingSaver", "Screen Saver",
                                      (parent ? WS_CHILD : WS_POPUP) | WS_VISIBLE, 0, 0, area.right, area.bottom,
                                      parent, nullptr, instance, nullptr);
        EXPECT_NE(nullptr, window);
        return window;
    }

    static void PaintWhite(HWND window)
    {
        HDC dc = GetDC(window);
        RECT client;
        GetClientRect(window, &client);
        FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        ReleaseDC(window, dc);
    }

    static bool AllBlack(HWND window)
    {
        int width = 0, height = 0;
        std::vector<uint32_t> pixels = layer::WindowPixels(window, &width, &height);
        if (pixels.empty())
            return false;
        for (uint32_t pixel : pixels)
            if (pixel != 0)
                return false;
        return true;
    }
};

TEST_F(EventHandlerTest, CreationReadsTheSettingsAndStartsTheFrameTimer)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    DWORD count = 300;
    RegSetValueExA(key, "BombCount", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&count), 4);
    RegCloseKey(key);

    HWND window = MakeSaverWindow();
    EXPECT_EQ(200, SaverSettings.BombCount) << "settings not loaded (and clamped) at creation";

    MSG tick;
    layer::AdvanceTicks(65);
    EXPECT_FALSE(PeekMessageA(&tick, window, WM_TIMER, WM_TIMER, PM_REMOVE));
    layer::AdvanceTicks(1);
    ASSERT_TRUE(PeekMessageA(&tick, window, WM_TIMER, WM_TIMER, PM_REMOVE));
    EXPECT_EQ(WPARAM(FrameTimerId), tick.wParam);

    // Destruction stops it: the timer is gone, not merely idle.
    DestroyWindow(window);
    EXPECT_FALSE(KillTimer(window, FrameTimerId));
}

TEST_F(EventHandlerTest, CreationGoesOnWhateverTheEngineFinds)
{
    // WM_CREATE answers with the default procedure's result, so a window is made.
    HWND window = MakeSaverWindow();
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(1, seen[WM_CREATE]);
}

TEST_F(EventHandlerTest, DestructionIsHandledHereAndAnswersOne)
{
    HWND window = MakeSaverWindow();
    EXPECT_EQ(1, SaverEventHandler(window, WM_DESTROY, 0, 0));
    // In a full-screen run the default procedure would have answered 0.
    EXPECT_EQ(0, HostDefaultProc(window, WM_DESTROY, 0, 0));
    DestroyWindow(window);
}

TEST_F(EventHandlerTest, ATickOfAnyTimerAsksForOneRepaintWithoutErasing)
{
    HWND window = MakeSaverWindow();
    ValidateRect(window, nullptr);
    for (WPARAM id : {WPARAM(FrameTimerId), WPARAM(1), WPARAM(0xBEEF)}) {
        SCOPED_TRACE(id);
        ValidateRect(window, nullptr);
        EXPECT_EQ(0, SendMessageA(window, WM_TIMER, id, 0));
        RECT update;
        ASSERT_TRUE(GetUpdateRect(window, &update, FALSE));
        EXPECT_EQ(0, update.left);
        EXPECT_EQ(0, update.top);
        EXPECT_EQ(64, update.right);
        EXPECT_EQ(48, update.bottom);
    }
    // Three ticks, one paint, and no erase before it.
    SendMessageA(window, WM_TIMER, 1, 0);
    SendMessageA(window, WM_TIMER, 2, 0);
    seen.clear();
    MSG message;
    int paints = 0;
    while (PeekMessageA(&message, window, WM_PAINT, WM_PAINT, PM_REMOVE)) {
        DispatchMessageA(&message);
        ++paints;
    }
    EXPECT_EQ(1, paints);
    EXPECT_EQ(0, seen[WM_ERASEBKGND]);
    DestroyWindow(window);
}

TEST_F(EventHandlerTest, APaintIsOneBlackSceneStepAndValidates)
{
    HWND window = MakeSaverWindow();
    PaintWhite(window);
    InvalidateRect(window, nullptr, FALSE);
    EXPECT_EQ(1, SendMessageA(window, WM_PAINT, 0, 0));
    EXPECT_TRUE(AllBlack(window));
    RECT update;
    EXPECT_FALSE(GetUpdateRect(window, &update, FALSE));
    // With nothing to paint, the answer is the same.
    EXPECT_EQ(1, SendMessageA(window, WM_PAINT, 0, 0));
    DestroyWindow(window);
}

TEST_F(EventHandlerTest, EraseFillsBlackNotWithTheClassBrushInBothModes)
{
    HWND panel = MakeHostingWindow(80, 60);
    for (HWND parent : {HWND(nullptr), panel}) {
        SCOPED_TRACE(parent ? "preview" : "full screen");
        HWND window = MakeSaverWindow(parent);
        PaintWhite(window);
        InvalidateRect(window, nullptr, TRUE);
        MSG message;
        while (PeekMessageA(&message, window, WM_PAINT, WM_PAINT, PM_REMOVE))
            DispatchMessageA(&message);
        EXPECT_GE(seen[WM_ERASEBKGND], 1);
        EXPECT_TRUE(AllBlack(window));

        PaintWhite(window);
        InvalidateRect(window, nullptr, FALSE);
        EXPECT_EQ(1, SendMessageA(window, WM_ERASEBKGND, 0, 0));
        EXPECT_TRUE(AllBlack(window));
        DestroyWindow(window);
        seen.clear();
    }
}

TEST_F(EventHandlerTest, TheRunningSaverPaintsEveryTickUntilInput)
{
    std::vector<DWORD> ticks;
    std::vector<bool> black;
    std::vector<std::function<void()>> steps;
    for (int frame = 0; frame < 10; ++frame)
        steps.push_back([&] {
            ticks.push_back(GetTickCount());
            black.push_back(AllBlack(HostState.window));
        });
    steps.push_back([] { layer::InjectKey(VK_RETURN, true); });
    ScriptIdle(steps);
    EXPECT_EQ(0, RunSaverWindow(nullptr));
    EXPECT_EQ(steps.size(), stepsRun);
    ASSERT_EQ(10u, ticks.size());
    for (size_t i = 1; i < ticks.size(); ++i)
        EXPECT_EQ(DWORD(FrameTimerPeriodMs), ticks[i] - ticks[i - 1]) << "frame " << i;
    // The first paint prepares the bomb phase on black; the next ones draw.
    EXPECT_TRUE(black.front());
    EXPECT_FALSE(black.back());
}

}  // namespace
