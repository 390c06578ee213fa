// Injected input: which window it reaches, and in what form.
#include "layer_fixture.h"

class LayerInputTest : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        RegisterLogging("Top", CS_DBLCLKS);
        RegisterLogging("Kid");
        top = MakeWindow("Top", WS_POPUP | WS_VISIBLE, 100, 50, 200, 100);
        child = MakeWindow("Kid", WS_CHILD | WS_VISIBLE, 10, 20, 50, 40, top);
        ASSERT_NE(nullptr, top);
        ASSERT_NE(nullptr, child);
        Pump();
        log().clear();
    }

    std::vector<LoggedMessage> Received(UINT message) {
        std::vector<LoggedMessage> out;
        for (const LoggedMessage &m : log())
            if (m.message == message) out.push_back(m);
        return out;
    }

    HWND top = nullptr;
    HWND child = nullptr;
};

TEST_F(LayerInputTest, MouseMovesReachTheWindowUnderTheCursorInClientCoordinates) {
    layer::InjectMouseMove(115, 75);
    Pump();
    auto moves = Received(WM_MOUSEMOVE);
    ASSERT_EQ(1u, moves.size());
    EXPECT_EQ(child, moves[0].hwnd);
    EXPECT_EQ(5, GET_X_LPARAM(moves[0].lParam));
    EXPECT_EQ(5, GET_Y_LPARAM(moves[0].lParam));

    log().clear();
    layer::InjectMouseMove(250, 60);
    Pump();
    moves = Received(WM_MOUSEMOVE);
    ASSERT_EQ(1u, moves.size());
    EXPECT_EQ(top, moves[0].hwnd);
    EXPECT_EQ(150, GET_X_LPARAM(moves[0].lParam));
    EXPECT_EQ(10, GET_Y_LPARAM(moves[0].lParam));
    POINT p;
    GetCursorPos(&p);
    EXPECT_EQ(250, p.x);
    EXPECT_EQ(60, p.y);

    log().clear();
    layer::InjectMouseMove(5, 5);  // over no window of ours
    Pump();
    EXPECT_TRUE(Received(WM_MOUSEMOVE).empty());
}

TEST_F(LayerInputTest, UnreadMouseMovesCollapseIntoTheLatest) {
    layer::InjectMouseMove(200, 60);
    layer::InjectMouseMove(210, 61);
    layer::InjectMouseMove(220, 62);
    Pump();
    auto moves = Received(WM_MOUSEMOVE);
    ASSERT_EQ(1u, moves.size());
    EXPECT_EQ(120, GET_X_LPARAM(moves[0].lParam));
}

TEST_F(LayerInputTest, TakingAMouseMessageAsksForTheCursorFirst) {
    layer::InjectMouseMove(200, 60);
    MSG m;
    ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_MOUSEMOVE, WM_MOUSEMOVE, PM_NOREMOVE));
    EXPECT_TRUE(Received(WM_SETCURSOR).empty());
    ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_MOUSEMOVE, WM_MOUSEMOVE, PM_REMOVE));
    auto asks = Received(WM_SETCURSOR);
    ASSERT_EQ(1u, asks.size());
    EXPECT_EQ(top, asks[0].hwnd);
    EXPECT_EQ(HTCLIENT, LOWORD(asks[0].lParam));
    EXPECT_EQ(WM_MOUSEMOVE, HIWORD(asks[0].lParam));
}

TEST_F(LayerInputTest, ButtonsCarryTheirStateAndDoubleClicksNeedTheClassStyle) {
    layer::SetTickCount(1000);
    layer::SetCursorPosition(200, 60);
    layer::InjectButton(layer::Button::Left, true);
    layer::InjectButton(layer::Button::Left, false);
    layer::AdvanceTicks(100);
    layer::InjectButton(layer::Button::Left, true);
    Pump();
    std::vector<UINT> seen;
    for (const LoggedMessage &m : log())
        if (m.hwnd == top && m.message >= WM_MOUSEFIRST && m.message <= WM_MOUSELAST) seen.push_back(m.message);
    EXPECT_EQ((std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK}), seen);
    auto downs = Received(WM_LBUTTONDOWN);
    ASSERT_EQ(1u, downs.size());
    EXPECT_EQ((WPARAM)MK_LBUTTON, downs[0].wParam);

    // The child's class has no CS_DBLCLKS: two quick clicks stay two clicks.
    log().clear();
    layer::InjectButton(layer::Button::Left, false);
    layer::SetCursorPosition(120, 80);
    layer::InjectButton(layer::Button::Right, true);
    layer::InjectButton(layer::Button::Right, false);
    layer::InjectButton(layer::Button::Right, true);
    Pump();
    EXPECT_EQ(2u, Received(WM_RBUTTONDOWN).size());
    EXPECT_TRUE(Received(WM_RBUTTONDBLCLK).empty());
    EXPECT_EQ(child, Received(WM_RBUTTONDOWN)[0].hwnd);
}

TEST_F(LayerInputTest, DisabledWindowsGetNoMouseInput) {
    EnableWindow(top, FALSE);
    layer::InjectMouseMove(200, 60);
    layer::InjectButton(layer::Button::Left, true);
    Pump();
    EXPECT_TRUE(Received(WM_MOUSEMOVE).empty());
    EXPECT_TRUE(Received(WM_LBUTTONDOWN).empty());
}

TEST_F(LayerInputTest, KeysGoToTheFocusAndBecomeCharacters) {
    ASSERT_EQ(top, GetFocus());
    SetFocus(child);
    layer::InjectKey('A', true);
    layer::InjectKey('A', false);
    Pump();
    auto downs = Received(WM_KEYDOWN);
    ASSERT_EQ(1u, downs.size());
    EXPECT_EQ(child, downs[0].hwnd);
    EXPECT_EQ((WPARAM)'A', downs[0].wParam);
    auto chars = Received(WM_CHAR);
    ASSERT_EQ(1u, chars.size());
    EXPECT_EQ((WPARAM)'a', chars[0].wParam);
    auto ups = Received(WM_KEYUP);
    ASSERT_EQ(1u, ups.size());
    EXPECT_NE(0, ups[0].lParam & (1 << 31));

    log().clear();
    layer::InjectKey(VK_SHIFT, true);
    layer::InjectKey('B', true);
    Pump();
    chars = Received(WM_CHAR);
    ASSERT_EQ(1u, chars.size());
    EXPECT_EQ((WPARAM)'B', chars[0].wParam);
}

TEST_F(LayerInputTest, AltKeysAreSystemKeysAndAltF4ClosesTheTopLevelWindow) {
    SetFocus(child);
    layer::InjectKey(VK_F4, true, true);
    Pump();
    auto sys = Received(WM_SYSKEYDOWN);
    ASSERT_EQ(1u, sys.size());
    EXPECT_EQ(child, sys[0].hwnd);
    EXPECT_NE(0, sys[0].lParam & (1 << 29));
    EXPECT_FALSE(IsWindow(top));
    EXPECT_FALSE(IsWindow(child));
}

TEST_F(LayerInputTest, WithoutAFocusKeysReachTheActiveWindowAsSystemKeys) {
    SetFocus(nullptr);
    ASSERT_EQ(top, GetActiveWindow());
    layer::InjectKey(VK_SPACE, true);
    Pump();
    EXPECT_TRUE(Received(WM_KEYDOWN).empty());
    auto sys = Received(WM_SYSKEYDOWN);
    ASSERT_EQ(1u, sys.size());
    EXPECT_EQ(top, sys[0].hwnd);
}

TEST_F(LayerInputTest, WheelGoesToTheFocusWithScreenCoordinates) {
    SetFocus(child);
    layer::SetCursorPosition(250, 60);
    layer::InjectWheel(-WHEEL_DELTA);
    Pump();
    auto wheel = Received(WM_MOUSEWHEEL);
    ASSERT_EQ(1u, wheel.size());
    EXPECT_EQ(child, wheel[0].hwnd);
    EXPECT_EQ(-WHEEL_DELTA, (short)HIWORD(wheel[0].wParam));
    EXPECT_EQ(250, GET_X_LPARAM(wheel[0].lParam));
    EXPECT_EQ(60, GET_Y_LPARAM(wheel[0].lParam));
}

TEST_F(LayerInputTest, SetCursorNullHidesTheCursorAndBadHandlesAreRefused) {
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    ASSERT_NE(nullptr, arrow);
    EXPECT_EQ(arrow, layer::CurrentCursor());
    EXPECT_EQ(arrow, SetCursor(nullptr));
    EXPECT_EQ(nullptr, layer::CurrentCursor());
    EXPECT_EQ(nullptr, GetCursor());
    EXPECT_EQ(nullptr, SetCursor(reinterpret_cast<HCURSOR>(0x1234)));
    EXPECT_EQ((DWORD)ERROR_INVALID_CURSOR_HANDLE, GetLastError());
    EXPECT_EQ(nullptr, layer::CurrentCursor());
    EXPECT_EQ(nullptr, SetCursor(arrow));
    EXPECT_EQ(arrow, layer::CurrentCursor());
}

TEST_F(LayerInputTest, SetCursorPosMovesTheMouseLikeTheUserWould) {
    EXPECT_TRUE(SetCursorPos(5000, -20));  // kept on the screen
    POINT p;
    GetCursorPos(&p);
    EXPECT_EQ(639, p.x);
    EXPECT_EQ(0, p.y);
    SetCursorPos(200, 60);
    Pump();
    EXPECT_EQ(1u, Received(WM_MOUSEMOVE).size());
}
