// The order in which a waiting loop receives what is pending, and the
// paint cycle's bookkeeping.
#include "layer_fixture.h"

#include <algorithm>

class LayerQueueTest : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        RegisterLogging();
        window = MakeWindow("LayerTestClass", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100);
        ASSERT_NE(nullptr, window);
        Pump();
        log().clear();
        layer::SetTickCount(0);
    }
    HWND window = nullptr;
};

TEST_F(LayerQueueTest, PostedThenQuitThenInputThenPaintThenTimer) {
    SetTimer(window, 1, 10, nullptr);
    layer::AdvanceTicks(20);
    InvalidateRect(window, nullptr, FALSE);
    layer::SetCursorPosition(50, 50);
    layer::InjectButton(layer::Button::Left, true);
    PostMessageA(window, WM_USER, 0, 0);
    PostQuitMessage(5);

    std::vector<UINT> order;
    MSG m;
    for (int i = 0; i < 5 && PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE); ++i) {
        order.push_back(m.message);
        if (m.message == WM_QUIT) {
            EXPECT_EQ(5u, m.wParam);
        } else {
            DispatchMessageA(&m);
        }
    }
    EXPECT_EQ((std::vector<UINT>{WM_USER, WM_QUIT, WM_LBUTTONDOWN, WM_PAINT, WM_TIMER}), order);
}

TEST_F(LayerQueueTest, FiltersSelectByWindowAndRange) {
    PostMessageA(nullptr, WM_USER + 1, 0, 0);
    PostMessageA(window, WM_USER + 2, 0, 0);
    PostMessageA(window, WM_USER + 3, 0, 0);
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, window, WM_USER + 3, WM_USER + 3, PM_REMOVE));
    EXPECT_EQ(WM_USER + 3u, m.message);
    ASSERT_TRUE(PeekMessageA(&m, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));
    EXPECT_EQ(WM_USER + 1u, m.message);
    EXPECT_EQ(nullptr, m.hwnd);
    EXPECT_FALSE(PeekMessageA(&m, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(WM_USER + 2u, m.message);
}

TEST_F(LayerQueueTest, PointerMessagesCannotBePosted) {
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(window, WM_SETTEXT, 0, 0));
    EXPECT_EQ((DWORD)ERROR_MESSAGE_SYNC_ONLY, GetLastError());
}

TEST_F(LayerQueueTest, UnvalidatedWindowIsPaintedAgainButErasedOnce) {
    int paints = 0, erases = 0;
    handler() = [&](HWND, UINT msg, WPARAM, LPARAM, LRESULT *r) {
        if (msg == WM_PAINT) {
            ++paints;
            *r = 0;
            return true;  // never validates
        }
        if (msg == WM_ERASEBKGND) ++erases;
        return false;
    };
    InvalidateRect(window, nullptr, TRUE);
    MSG m;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
        ASSERT_EQ(WM_PAINT, m.message);
        DispatchMessageA(&m);
    }
    EXPECT_EQ(3, paints);
    EXPECT_EQ(1, erases);
    ValidateRect(window, nullptr);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(LayerQueueTest, UpdateRegionAddsAndSubtractsRectangles) {
    RECT a = {0, 0, 30, 30}, b = {50, 50, 60, 70};
    InvalidateRect(window, &a, FALSE);
    InvalidateRect(window, &b, FALSE);
    RECT bounds;
    ASSERT_TRUE(GetUpdateRect(window, &bounds, FALSE));
    EXPECT_EQ(0, bounds.left);
    EXPECT_EQ(70, bounds.bottom);
    ValidateRect(window, &a);
    ASSERT_TRUE(GetUpdateRect(window, &bounds, FALSE));
    EXPECT_EQ(50, bounds.left);
    EXPECT_EQ(50, bounds.top);
    RECT outside = {500, 500, 600, 600};  // beyond the client area: nothing to paint
    ValidateRect(window, &b);
    InvalidateRect(window, &outside, TRUE);
    EXPECT_FALSE(GetUpdateRect(window, &bounds, FALSE));
    EXPECT_EQ(0, bounds.right);
}

TEST_F(LayerQueueTest, HiddenWindowsGatherNoPaintUntilShown) {
    ShowWindow(window, SW_HIDE);
    InvalidateRect(window, nullptr, TRUE);
    MSG m;
    EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE));
    log().clear();
    EXPECT_FALSE(ShowWindow(window, SW_SHOW));
    ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE));
    DispatchMessageA(&m);
    std::vector<UINT> seen = MessagesOf(window);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(WM_SHOWWINDOW, seen.front());
    EXPECT_NE(seen.end(), std::find(seen.begin(), seen.end(), WM_ERASEBKGND));
}

TEST_F(LayerQueueTest, ActivationOfANewWindowFollowsTheSystemOrder) {
    HWND second = MakeWindow("LayerTestClass", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10);
    std::vector<std::pair<HWND, UINT>> seen;
    for (const LoggedMessage &m : log())
        if (m.message == WM_NCACTIVATE || m.message == WM_ACTIVATE || m.message == WM_KILLFOCUS ||
            m.message == WM_SETFOCUS)
            seen.push_back({m.hwnd, m.message});
    std::vector<std::pair<HWND, UINT>> expected = {{window, WM_NCACTIVATE}, {window, WM_ACTIVATE},
                                                   {second, WM_NCACTIVATE}, {second, WM_ACTIVATE},
                                                   {window, WM_KILLFOCUS},  {second, WM_SETFOCUS}};
    EXPECT_EQ(expected, seen);
    EXPECT_EQ(second, GetForegroundWindow());
    EXPECT_EQ(second, GetFocus());
    EXPECT_EQ(second, FindWindowA("layertestclass", nullptr));  // the top of the z-order first
}
