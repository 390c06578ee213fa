// The paint cycle: the saver draws one frame per WM_PAINT and asks for it
// with InvalidateRect(..., FALSE), so paints must merge, come last, erase only
// when asked and stop once validated.
#include "conformance.h"

namespace {

// What the painting procedures answer and observe.
LRESULT eraseAnswer = 0;  // returned for WM_ERASEBKGND; -1 passes it to the default procedure
LRESULT eraseDefaultResult = 0;
BOOL lastFErase = -1;

LRESULT CALLBACK PaintingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Record(window, message, wParam, lParam);
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        Record(window, WM_APP, reinterpret_cast<WPARAM>(dc), ps.fErase);  // marks the end of BeginPaint
        lastFErase = ps.fErase;
        EndPaint(window, &ps);
        return 0;
    }
    if (message == WM_ERASEBKGND) {
        if (eraseAnswer != -1) return eraseAnswer;
        eraseDefaultResult = DefWindowProcA(window, message, wParam, lParam);
        return eraseDefaultResult;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

class Paint : public Win32Test {
  protected:
    void SetUp() override {
        Win32Test::SetUp();
        eraseAnswer = 0;
        eraseDefaultResult = 0;
        lastFErase = -1;
    }

    // A visible window with nothing left to paint.
    HWND MakePaintedWindow(WNDPROC proc = PaintingProc, HBRUSH background = NULL) {
        HWND window = MakeWindow(RegisterTestClass(proc, background), WS_POPUP | WS_VISIBLE, "", 10, 10, 120, 90);
        if (window) {
            DrainQueue();
            ValidateRect(window, NULL);
            SeenLog().clear();
        }
        return window;
    }

    // Dispatches queued messages until the queue is empty; returns how many
    // WM_PAINT messages `window` was given.
    int PumpPaints(HWND window) {
        MSG msg;
        int paints = 0;
        for (int i = 0; i < 100 && PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE); ++i) {
            if (msg.message == WM_PAINT && msg.hwnd == window) ++paints;
            DispatchMessageA(&msg);
        }
        return paints;
    }

    static bool PaintPending(HWND window) {
        MSG msg;
        return PeekMessageA(&msg, window, WM_PAINT, WM_PAINT, PM_NOREMOVE) != 0;
    }
};

TEST_F(Paint, VisibleWindowIsPaintedOnceTheQueueIsEmpty) {
    HWND window = MakeWindow(RegisterTestClass(PaintingProc), WS_POPUP | WS_VISIBLE, "", 10, 10, 120, 90);
    ASSERT_TRUE(PostMessageA(window, WM_APP + 1, 0, 0));
    ASSERT_TRUE(PostMessageA(window, WM_APP + 2, 0, 0));

    MSG msg = {};
    ASSERT_TRUE(NextOf(&msg, {WM_APP + 1, WM_APP + 2, WM_PAINT}));
    EXPECT_EQ(WM_APP + 1u, msg.message);
    ASSERT_TRUE(NextOf(&msg, {WM_APP + 1, WM_APP + 2, WM_PAINT}));
    EXPECT_EQ(WM_APP + 2u, msg.message);
    ASSERT_TRUE(NextOf(&msg, {WM_APP + 1, WM_APP + 2, WM_PAINT}));
    EXPECT_EQ(static_cast<UINT>(WM_PAINT), msg.message);
    EXPECT_EQ(window, msg.hwnd);
    DispatchMessageA(&msg);
    EXPECT_FALSE(PaintPending(window));
}

TEST_F(Paint, SeveralInvalidationsMergeIntoOnePaint) {
    HWND window = MakePaintedWindow();
    EXPECT_FALSE(PaintPending(window));
    ASSERT_TRUE(InvalidateRect(window, NULL, FALSE));
    RECT part = {5, 5, 20, 20};
    ASSERT_TRUE(InvalidateRect(window, &part, FALSE));
    ASSERT_TRUE(InvalidateRect(window, NULL, FALSE));
    EXPECT_TRUE(PaintPending(window));

    EXPECT_EQ(1, PumpPaints(window));
    EXPECT_EQ(1, CountSeen(window, WM_PAINT));
    EXPECT_FALSE(PaintPending(window)) << "BeginPaint/EndPaint validated the window";
    EXPECT_EQ(0, PumpPaints(window));
}

TEST_F(Paint, EraseIsSentFromBeginPaintOnlyWhenAskedFor) {
    HWND window = MakePaintedWindow();

    ASSERT_TRUE(InvalidateRect(window, NULL, FALSE));
    EXPECT_EQ(1, PumpPaints(window));
    EXPECT_EQ(0, CountSeen(window, WM_ERASEBKGND));
    EXPECT_FALSE(lastFErase);

    SeenLog().clear();
    ASSERT_TRUE(InvalidateRect(window, NULL, TRUE));
    EXPECT_EQ(1, PumpPaints(window));
    int erase = FindSeen(window, WM_ERASEBKGND);
    int paint = FindSeen(window, WM_PAINT);
    int painted = FindSeen(window, WM_APP);
    ASSERT_GE(erase, 0);
    EXPECT_LT(paint, erase);
    EXPECT_LT(erase, painted) << "the erase is sent from inside BeginPaint";
    EXPECT_EQ(SeenLog()[painted].wParam, SeenLog()[erase].wParam) << "erase gets the paint DC";
    EXPECT_EQ(1, CountSeen(window, WM_ERASEBKGND));
}

TEST_F(Paint, FEraseTellsWhetherTheEraseWasLeftUndone) {
    HWND window = MakePaintedWindow();

    eraseAnswer = 0;  // not erased
    ASSERT_TRUE(InvalidateRect(window, NULL, TRUE));
    EXPECT_EQ(1, PumpPaints(window));
    EXPECT_TRUE(lastFErase);

    eraseAnswer = 1;  // erased
    ASSERT_TRUE(InvalidateRect(window, NULL, TRUE));
    EXPECT_EQ(1, PumpPaints(window));
    EXPECT_FALSE(lastFErase);
}

TEST_F(Paint, DefaultProcedureValidatesAnUnpaintedWindow) {
    HWND window = MakeWindow(RegisterTestClass(RecordingProc), WS_POPUP | WS_VISIBLE, "", 10, 10, 120, 90);
    DrainQueue();
    SeenLog().clear();
    ASSERT_TRUE(InvalidateRect(window, NULL, FALSE));

    MSG msg = {};
    ASSERT_TRUE(NextOf(&msg, {WM_PAINT}));
    EXPECT_EQ(window, msg.hwnd);
    DispatchMessageA(&msg);
    EXPECT_FALSE(PaintPending(window));
    EXPECT_FALSE(NextOf(&msg, {WM_PAINT}));
}

TEST_F(Paint, DefaultEraseFillsWithTheClassBlackBrush) {
    HWND window = MakePaintedWindow(PaintingProc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    HDC dc = GetDC(window);
    ASSERT_NE(nullptr, dc);
    RECT client;
    ASSERT_TRUE(GetClientRect(window, &client));
    ASSERT_NE(0, FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))));
    ASSERT_EQ(RGB(255, 255, 255), GetPixel(dc, 3, 3));

    EXPECT_NE(0, DefWindowProcA(window, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0));
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(dc, 3, 3));
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(dc, client.right - 1, client.bottom - 1));
    ReleaseDC(window, dc);

    // Reached from BeginPaint, the default erase counts as done.
    eraseAnswer = -1;
    ASSERT_TRUE(InvalidateRect(window, NULL, TRUE));
    EXPECT_EQ(1, PumpPaints(window));
    EXPECT_NE(0, eraseDefaultResult);
    EXPECT_FALSE(lastFErase);
}

}  // namespace
