// Window life cycle, bad handles, and what drawing leaves on a window's
// surface.
#include "layer_fixture.h"

class LayerWindowTest : public LayerTest {};

TEST_F(LayerWindowTest, DestroyingAParentTearsDownTheTreeInWindowsOrder) {
    RegisterLogging();
    HWND parent = MakeWindow("LayerTestClass", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100);
    HWND child = MakeWindow("LayerTestClass", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, parent);
    HWND grandchild = MakeWindow("LayerTestClass", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, child);
    ASSERT_NE(nullptr, grandchild);
    SetFocus(grandchild);
    SetTimer(child, 1, 10, nullptr);
    PostMessageA(grandchild, WM_USER, 0, 0);
    ASSERT_EQ(parent, GetForegroundWindow());
    log().clear();

    ASSERT_TRUE(DestroyWindow(parent));

    std::vector<std::pair<HWND, UINT>> order;
    for (const LoggedMessage &m : log())
        if (m.message == WM_DESTROY || m.message == WM_NCDESTROY) order.push_back({m.hwnd, m.message});
    std::vector<std::pair<HWND, UINT>> expected = {
        {parent, WM_DESTROY},       {child, WM_DESTROY},     {grandchild, WM_DESTROY},
        {grandchild, WM_NCDESTROY}, {child, WM_NCDESTROY},   {parent, WM_NCDESTROY},
    };
    EXPECT_EQ(expected, order);
    EXPECT_FALSE(IsWindow(parent));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(IsWindow(grandchild));
    EXPECT_EQ(nullptr, GetForegroundWindow());
    EXPECT_EQ(nullptr, GetActiveWindow());
    EXPECT_EQ(nullptr, GetFocus());
    MSG m;
    layer::AdvanceTicks(1000);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));  // no message, no timer left
}

TEST_F(LayerWindowTest, CreateRefusedByTheProcedureLeavesNoWindow) {
    RegisterLogging();
    handler() = [](HWND, UINT msg, WPARAM, LPARAM, LRESULT *r) {
        if (msg != WM_CREATE) return false;
        *r = -1;
        return true;
    };
    HWND w = MakeWindow("LayerTestClass", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10);
    EXPECT_EQ(nullptr, w);
    ASSERT_FALSE(log().empty());
    HWND attempted = log().front().hwnd;
    std::vector<UINT> seen = MessagesOf(attempted);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ((std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}), std::vector<UINT>(seen.end() - 2, seen.end()));
    EXPECT_FALSE(IsWindow(attempted));
    // The class still counts no windows, so it can go.
    EXPECT_TRUE(UnregisterClassA("LayerTestClass", GetModuleHandleA(nullptr)));
}

TEST_F(LayerWindowTest, ClassWithWindowsCannotBeUnregistered) {
    RegisterLogging();
    HWND w = MakeWindow("LayerTestClass", WS_POPUP, 0, 0, 10, 10);
    EXPECT_FALSE(UnregisterClassA("layertestclass", nullptr));
    EXPECT_EQ((DWORD)ERROR_CLASS_HAS_WINDOWS, GetLastError());
    DestroyWindow(w);
    EXPECT_TRUE(UnregisterClassA("layertestclass", nullptr));
    EXPECT_FALSE(UnregisterClassA("layertestclass", nullptr));
    EXPECT_EQ((DWORD)ERROR_CLASS_DOES_NOT_EXIST, GetLastError());
}

TEST_F(LayerWindowTest, BadHandlesFailQuietlyWithTheWindowsError) {
    RegisterLogging();
    HWND gone = MakeWindow("LayerTestClass", WS_POPUP, 0, 0, 10, 10);
    DestroyWindow(gone);
    for (HWND bad : {gone, reinterpret_cast<HWND>(0x5EADBEEF)}) {
        RECT r;
        PAINTSTRUCT ps;
        MSG m = {};
        m.hwnd = bad;
        m.message = WM_USER;
        char text[8];
        auto expectError = [](const char *what) {
            EXPECT_EQ((DWORD)ERROR_INVALID_WINDOW_HANDLE, GetLastError()) << what;
            SetLastError(0);
        };
        SetLastError(0);
        EXPECT_FALSE(IsWindow(bad));
        EXPECT_FALSE(DestroyWindow(bad));
        expectError("DestroyWindow");
        EXPECT_FALSE(PostMessageA(bad, WM_USER, 0, 0));
        expectError("PostMessageA");
        EXPECT_EQ(0, SendMessageA(bad, WM_USER, 0, 0));
        expectError("SendMessageA");
        EXPECT_EQ(0, DispatchMessageA(&m));
        expectError("DispatchMessageA");
        EXPECT_EQ(-1, GetMessageA(&m, bad, 0, 0));
        expectError("GetMessageA");
        EXPECT_FALSE(PeekMessageA(&m, bad, 0, 0, PM_REMOVE));
        expectError("PeekMessageA");
        EXPECT_EQ(0u, SetTimer(bad, 1, 10, nullptr));
        expectError("SetTimer");
        EXPECT_FALSE(InvalidateRect(bad, nullptr, TRUE));
        expectError("InvalidateRect");
        EXPECT_EQ(nullptr, BeginPaint(bad, &ps));
        expectError("BeginPaint");
        EXPECT_EQ(nullptr, GetDC(bad));
        expectError("GetDC");
        EXPECT_FALSE(GetClientRect(bad, &r));
        expectError("GetClientRect");
        EXPECT_EQ(0, GetWindowTextA(bad, text, sizeof text));
        expectError("GetWindowTextA");
        EXPECT_EQ(0, GetWindowLongPtrA(bad, GWLP_USERDATA));
        expectError("GetWindowLongPtrA");
        EXPECT_EQ(nullptr, CreateWindowExA(0, "LayerTestClass", "", WS_CHILD, 0, 0, 1, 1, bad, nullptr, nullptr,
                                           nullptr));
        expectError("CreateWindowExA");
    }
    EXPECT_EQ(nullptr, MakeWindow("LayerTestClass", WS_CHILD, 0, 0, 1, 1));
    EXPECT_EQ((DWORD)ERROR_TLW_WITH_WSCHILD, GetLastError());
    EXPECT_EQ(nullptr, MakeWindow("NoSuchClass", WS_POPUP, 0, 0, 1, 1));
    EXPECT_EQ((DWORD)ERROR_CANNOT_FIND_WND_CLASS, GetLastError());
}

TEST_F(LayerWindowTest, ExtraBytesAreBoundsChecked) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.cbWndExtra = (int)sizeof(LONG_PTR);
    wc.lpszClassName = "Extra";
    ASSERT_NE(0, RegisterClassA(&wc));
    HWND w = MakeWindow("Extra", WS_POPUP, 0, 0, 1, 1);
    EXPECT_EQ(0, SetWindowLongPtrA(w, 0, 1234));
    EXPECT_EQ(1234, GetWindowLongPtrA(w, 0));
    SetLastError(0);
    EXPECT_EQ(0, GetWindowLongPtrA(w, 1));
    EXPECT_EQ((DWORD)ERROR_INVALID_INDEX, GetLastError());
    EXPECT_EQ(0, SetWindowLongPtrA(w, (int)sizeof(LONG_PTR), 5));
    EXPECT_EQ((DWORD)ERROR_INVALID_INDEX, GetLastError());
}

TEST_F(LayerWindowTest, FirstPaintErasesWithTheClassBrush) {
    RegisterLogging("White", 0, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HWND w = MakeWindow("White", WS_POPUP | WS_VISIBLE, 0, 0, 8, 4);
    Pump();
    int width = 0, height = 0;
    auto pixels = layer::WindowPixels(w, &width, &height);
    EXPECT_EQ(8, width);
    EXPECT_EQ(4, height);
    ASSERT_EQ(32u, pixels.size());
    for (uint32_t p : pixels) EXPECT_EQ(0xFFFFFFu, p);
}

TEST_F(LayerWindowTest, PaintingReachesOnlyTheInvalidPart) {
    RegisterLogging();
    HWND w = MakeWindow("LayerTestClass", WS_POPUP | WS_VISIBLE, 0, 0, 10, 10);
    Pump();
    RECT part = {2, 3, 5, 6};
    InvalidateRect(w, &part, FALSE);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    ASSERT_NE(nullptr, dc);
    EXPECT_EQ(2, ps.rcPaint.left);
    EXPECT_EQ(6, ps.rcPaint.bottom);
    RECT all = {0, 0, 10, 10};
    EXPECT_TRUE(FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))));
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(dc, 3, 4));
    EndPaint(w, &ps);
    int width = 0;
    auto pixels = layer::WindowPixels(w, &width);
    int white = 0;
    for (uint32_t p : pixels) white += p == 0xFFFFFFu;
    EXPECT_EQ(9, white);
    EXPECT_EQ(0xFFFFFFu, pixels[3 * width + 2]);
    EXPECT_EQ(0u, pixels[3 * width + 5]);
}

TEST_F(LayerWindowTest, GetDCDrawsEverywhereAndMustBeReleased) {
    RegisterLogging();
    HWND w = MakeWindow("LayerTestClass", WS_POPUP | WS_VISIBLE, 0, 0, 4, 4);
    Pump();
    EXPECT_EQ(0, layer::LiveGdiObjects());
    HDC dc = GetDC(w);
    ASSERT_NE(nullptr, dc);
    EXPECT_EQ(1, layer::LiveGdiObjects());
    RECT r = {1, 1, 3, 3};
    FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    EXPECT_EQ(RGB(128, 128, 128), GetPixel(dc, 2, 2));
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(dc, 0, 0));
    EXPECT_EQ(CLR_INVALID, GetPixel(dc, 4, 0));
    EXPECT_EQ(1, ReleaseDC(w, dc));
    EXPECT_EQ(0, layer::LiveGdiObjects());
    EXPECT_EQ(0, ReleaseDC(w, dc));
    EXPECT_EQ(0, FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH))));
    EXPECT_EQ(0x808080u, layer::WindowPixels(w)[5]);
}

TEST_F(LayerWindowTest, OwnDCIsTheSameForLifeAndGoesWithTheWindow) {
    RegisterLogging("Own", CS_OWNDC);
    HWND w = MakeWindow("Own", WS_POPUP | WS_VISIBLE, 0, 0, 4, 4);
    HDC first = GetDC(w);
    ReleaseDC(w, first);
    PAINTSTRUCT ps;
    InvalidateRect(w, nullptr, FALSE);
    EXPECT_EQ(first, BeginPaint(w, &ps));
    EndPaint(w, &ps);
    EXPECT_EQ(first, GetDC(w));
    EXPECT_EQ(0, layer::LiveGdiObjects());
    DestroyWindow(w);
    RECT r = {0, 0, 1, 1};
    EXPECT_EQ(0, FillRect(first, &r, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))));
}

TEST_F(LayerWindowTest, DesktopIsAWindowTheSizeOfTheScreen) {
    HWND desktop = GetDesktopWindow();
    EXPECT_TRUE(IsWindow(desktop));
    RECT r;
    ASSERT_TRUE(GetClientRect(desktop, &r));
    EXPECT_EQ(640, r.right);
    EXPECT_EQ(480, r.bottom);
    EXPECT_FALSE(DestroyWindow(desktop));
    EXPECT_TRUE(IsWindow(desktop));
    EXPECT_EQ(nullptr, FindWindowA(nullptr, nullptr));  // the desktop is not a top-level window
}
