// Text: the DC's text colours and background mode, extents against what
// DrawTextA measures (prefixes, line ends, breaking between words), and the
// colours a parent gives a label. Faces differ between systems, so the
// tests relate the calls to each other rather than to pixel counts.
#include <string>

#include "conformance.h"

namespace {

class Text : public Win32Test {
  protected:
    void SetUp() override {
        Win32Test::SetUp();
        dc = CreateCompatibleDC(NULL);
        font = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, "MS Sans Serif");
        previous = SelectObject(dc, font);
    }
    void TearDown() override {
        SelectObject(dc, previous);
        DeleteObject(font);
        DeleteDC(dc);
        Win32Test::TearDown();
    }

    LONG Width(const std::string &text) {
        SIZE size = {-1, -1};
        EXPECT_TRUE(GetTextExtentPoint32A(dc, text.c_str(), (int)text.size(), &size));
        return size.cx;
    }
    // DrawTextA's measure: the height it returns and the rectangle's width.
    int Measure(const char *text, UINT format, LONG width, LONG *measured) {
        RECT r = {10, 20, 10 + width, 20};
        int height = DrawTextA(dc, text, -1, &r, format | DT_CALCRECT);
        *measured = r.right - r.left;
        EXPECT_EQ(height, r.bottom - r.top);
        return height;
    }

    HDC dc = NULL;
    HFONT font = NULL;
    HGDIOBJ previous = NULL;
};

TEST_F(Text, ColoursAndBackgroundModeStartAsTheSystemSetsThem) {
    EXPECT_EQ(OPAQUE, GetBkMode(dc));
    EXPECT_EQ(OPAQUE, SetBkMode(dc, TRANSPARENT));
    EXPECT_EQ(TRANSPARENT, GetBkMode(dc));
    EXPECT_EQ(RGB(0, 0, 0), SetTextColor(dc, RGB(10, 20, 30)));
    EXPECT_EQ(RGB(10, 20, 30), GetTextColor(dc));
    EXPECT_EQ(RGB(255, 255, 255), SetBkColor(dc, RGB(1, 2, 3)));
    EXPECT_EQ(RGB(1, 2, 3), GetBkColor(dc));
    EXPECT_EQ(0, SetBkMode(dc, 7)) << "no such mode";
    EXPECT_EQ(TRANSPARENT, GetBkMode(dc));
    EXPECT_EQ(CLR_INVALID, SetTextColor(NULL, 0));
    EXPECT_EQ(0, SetBkMode(NULL, OPAQUE));
    SIZE size;
    EXPECT_FALSE(GetTextExtentPoint32A(NULL, "a", 1, &size));
    EXPECT_FALSE(GetTextExtentPoint32A(dc, "a", -1, &size));
}

TEST_F(Text, DrawTextMeasuresWhatTheExtentsSay) {
    TEXTMETRICA tm;
    ASSERT_TRUE(GetTextMetricsA(dc, &tm));
    LONG width = 0;
    EXPECT_EQ(tm.tmHeight, Measure("Max Bomb Count", DT_SINGLELINE, 500, &width));
    EXPECT_EQ(Width("Max Bomb Count"), width);
    // A prefix takes no room; a doubled one is one ampersand; DT_NOPREFIX
    // shows them as they are.
    Measure("&Bombs Only", DT_SINGLELINE, 500, &width);
    EXPECT_EQ(Width("Bombs Only"), width);
    Measure("Salt && Bread", DT_SINGLELINE, 500, &width);
    EXPECT_EQ(Width("Salt & Bread"), width);
    Measure("&Bombs", DT_SINGLELINE | DT_NOPREFIX, 500, &width);
    EXPECT_EQ(Width("&Bombs"), width);
    // Every line end starts a line, CR LF counting once.
    EXPECT_EQ(3 * tm.tmHeight, Measure("one\r\ntwo\nthree", 0, 500, &width));
    EXPECT_EQ(Width("three"), width);
    EXPECT_EQ(tm.tmHeight, Measure("one\r\ntwo", DT_SINGLELINE, 500, &width));
    // Breaking between words: a line as wide as the rectangle fits, and the
    // blank where a line breaks counts in its width when there is room for it.
    LONG two = Width("Bomb Bomb");
    EXPECT_EQ(2 * tm.tmHeight, Measure("Bomb Bomb Bomb", DT_WORDBREAK, two, &width));
    EXPECT_EQ(two, width);
    EXPECT_EQ(3 * tm.tmHeight, Measure("Bomb Bomb Bomb", DT_WORDBREAK, two - 1, &width));
    EXPECT_EQ(Width("Bomb "), width);
}

HBRUSH labelBrush = NULL;

LRESULT CALLBACK ColouringParent(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CTLCOLORSTATIC && labelBrush) return reinterpret_cast<LRESULT>(labelBrush);
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(Text, ALabelIsFilledWithWhatItsParentAnswers) {
    HWND parent = MakeWindow(RegisterTestClass(ColouringParent), WS_POPUP | WS_VISIBLE, "", 20, 20, 200, 100);
    ASSERT_NE(nullptr, parent);
    HWND label = CreateWindowExA(0, "Static", "", WS_CHILD | WS_VISIBLE | SS_LEFT, 10, 10, 80, 20, parent, NULL,
                                 Instance(), NULL);
    ASSERT_NE(nullptr, label);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    labelBrush = red;
    InvalidateRect(label, NULL, TRUE);
    UpdateWindow(label);
    HDC screen = GetDC(label);
    EXPECT_EQ(RGB(255, 0, 0), GetPixel(screen, 2, 2));
    ReleaseDC(label, screen);
    // Left to the default procedure, it has the face colour.
    labelBrush = NULL;
    InvalidateRect(label, NULL, TRUE);
    UpdateWindow(label);
    screen = GetDC(label);
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), GetPixel(screen, 2, 2));
    ReleaseDC(label, screen);
    DestroyWindow(label);
    DeleteObject(red);
}

}  // namespace
