// The system controls on their own, outside any dialog: the classes every
// process has, buttons, statics with pictures, edits, the trackbar's
// messages and geometry, the mouse capture and the keyboard state.
#include <commctrl.h>

#include <string>
#include <vector>

#include "layer_fixture.h"
#include "res_builder.h"

namespace {

class LayerControlsTest : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        RegisterLogging("Parent");
        parent = MakeWindow("Parent", WS_POPUP | WS_VISIBLE, 20, 10, 400, 300);
        ASSERT_NE(nullptr, parent);
        log().clear();
    }

    HWND Control(const char *cls, DWORD style, const char *text, int id, int x = 10, int y = 10, int w = 120,
                 int h = 24, DWORD exStyle = 0) {
        return CreateWindowExA(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                               (HMENU)(UINT_PTR)id, GetModuleHandleA(nullptr), nullptr);
    }

    // The notifications the parent heard, as (id, code) for WM_COMMAND.
    std::vector<std::pair<int, int>> Commands() {
        std::vector<std::pair<int, int>> out;
        for (const LoggedMessage &m : log())
            if (m.hwnd == parent && m.message == WM_COMMAND) out.push_back({LOWORD(m.wParam), HIWORD(m.wParam)});
        return out;
    }
    std::vector<WPARAM> Scrolls() {
        std::vector<WPARAM> out;
        for (const LoggedMessage &m : log())
            if (m.hwnd == parent && m.message == WM_HSCROLL) out.push_back(m.wParam);
        return out;
    }
    static std::string Text(HWND hwnd) {
        char text[256] = "";
        GetWindowTextA(hwnd, text, sizeof text);
        return text;
    }

    HWND parent = nullptr;
};

TEST_F(LayerControlsTest, EveryProcessHasTheSystemClasses) {
    WNDCLASSA wc;
    for (const char *name : {"Button", "EDIT", "static", TRACKBAR_CLASSA, "#32770"}) {
        EXPECT_NE(0, GetClassInfoA(nullptr, name, &wc)) << name;
        EXPECT_NE(0, GetClassInfoA(GetModuleHandleA(nullptr), name, &wc)) << name;
    }
    EXPECT_EQ(0x8002, GetClassInfoA(nullptr, WC_DIALOG, &wc)) << "the dialog class is known by its atom";
    EXPECT_GE(wc.cbWndExtra, DLGWINDOWEXTRA);
    InitCommonControls();
    InitCommonControls();
    EXPECT_NE(0, GetClassInfoA(nullptr, TRACKBAR_CLASSA, &wc)) << "asking again changes nothing";
    char name[32];
    HWND button = Control("BUTTON", BS_PUSHBUTTON, "b", 1);
    GetClassNameA(button, name, sizeof name);
    EXPECT_STREQ("Button", name) << "the class as the system spells it";
}

TEST_F(LayerControlsTest, ButtonsHoldOnlyTheChecksOfTheirType) {
    HWND push = Control("Button", BS_PUSHBUTTON, "Push", 1);
    HWND check = Control("Button", BS_AUTOCHECKBOX, "Check", 2);
    HWND three = Control("Button", BS_AUTO3STATE, "Three", 3);
    for (HWND b : {push, check, three}) SendMessageA(b, BM_SETCHECK, BST_INDETERMINATE, 0);
    EXPECT_EQ(BST_UNCHECKED, SendMessageA(push, BM_GETCHECK, 0, 0));
    EXPECT_EQ(BST_CHECKED, SendMessageA(check, BM_GETCHECK, 0, 0));
    EXPECT_EQ(BST_INDETERMINATE, SendMessageA(three, BM_GETCHECK, 0, 0));
    // Three clicks take a three-state box round all its states.
    std::vector<LRESULT> seen;
    for (int i = 0; i < 3; ++i) {
        SendMessageA(three, BM_CLICK, 0, 0);
        seen.push_back(SendMessageA(three, BM_GETCHECK, 0, 0));
    }
    EXPECT_EQ((std::vector<LRESULT>{BST_UNCHECKED, BST_CHECKED, BST_INDETERMINATE}), seen);
    EXPECT_EQ((std::vector<std::pair<int, int>>{{3, BN_CLICKED}, {3, BN_CLICKED}, {3, BN_CLICKED}}), Commands());

    // BM_SETSTYLE changes the type and nothing else.
    SendMessageA(push, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    EXPECT_EQ((LONG)(WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON), GetWindowLongA(push, GWL_STYLE));
    EXPECT_EQ(DLGC_BUTTON | DLGC_DEFPUSHBUTTON, SendMessageA(push, WM_GETDLGCODE, 0, 0));
    // A held press shows in the state; the focus too.
    SendMessageA(check, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
    EXPECT_EQ(BST_CHECKED | BST_PUSHED | BST_FOCUS, SendMessageA(check, BM_GETSTATE, 0, 0));
    EXPECT_EQ(check, GetCapture());
    SendMessageA(check, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(500, 2));
    EXPECT_EQ(BST_CHECKED | BST_FOCUS, SendMessageA(check, BM_GETSTATE, 0, 0)) << "out of the button: not pushed";
    SendMessageA(check, WM_LBUTTONUP, 0, MAKELPARAM(500, 2));
    EXPECT_EQ(BST_CHECKED, SendMessageA(check, BM_GETCHECK, 0, 0)) << "released outside: no click";
    EXPECT_EQ(nullptr, GetCapture());
}

TEST_F(LayerControlsTest, TheMouseGoesThroughGroupBoxesAndLabelsToWhatIsUnder) {
    // The first child made is the top of the z-order: the box under the
    // label and the frame gets the click.
    HWND check = Control("Button", BS_AUTOCHECKBOX, "Check", 1, 20, 20, 100, 20);
    HWND frame = Control("Button", BS_GROUPBOX, "Frame", 2, 0, 0, 300, 200);
    HWND label = Control("Static", SS_LEFT, "Label", 3, 150, 20, 100, 20);
    EXPECT_EQ(HTTRANSPARENT, SendMessageA(frame, WM_NCHITTEST, 0, 0));
    EXPECT_EQ(HTTRANSPARENT, SendMessageA(label, WM_NCHITTEST, 0, 0));
    RECT r;
    GetWindowRect(check, &r);
    layer::InjectMouseMove(r.left + 5, r.top + 5);
    layer::InjectButton(layer::Button::Left, true);
    layer::InjectButton(layer::Button::Left, false);
    Pump();
    EXPECT_EQ(BST_CHECKED, SendMessageA(check, BM_GETCHECK, 0, 0));
    EXPECT_EQ((std::vector<std::pair<int, int>>{{1, BN_CLICKED}}), Commands());
}

TEST_F(LayerControlsTest, APictureStaticTakesItsBitmapsSizeAndGivesItBack) {
    std::vector<uint8_t> res = resbuild::NewResFile();
    std::vector<uint8_t> pixels(16 * 8, 3);
    resbuild::AddRecord(res, resbuild::Ord(2), resbuild::Ord(124), resbuild::PackedDib(16, 8, BI_RGB, 0, pixels));
    layer::UseResources(res);
    int before = layer::LiveGdiObjects();
    char ordinal[4] = {'\xFF', 124, 0, 0};
    HWND picture = Control("Static", SS_BITMAP, ordinal, 1, 5, 5, 100, 100);
    ASSERT_NE(nullptr, picture);
    EXPECT_EQ("", Text(picture)) << "an ordinal is no text";
    RECT r;
    GetClientRect(picture, &r);
    EXPECT_EQ(16, r.right);
    EXPECT_EQ(8, r.bottom);
    HBITMAP shown = (HBITMAP)SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0);
    ASSERT_NE(nullptr, shown);
    EXPECT_EQ(before + 1, layer::LiveGdiObjects());
    EXPECT_EQ(0, SendMessageA(picture, STM_GETIMAGE, IMAGE_ICON, 0));
    DestroyWindow(picture);
    EXPECT_EQ(before, layer::LiveGdiObjects()) << "the control's own bitmap goes with it";

    // A bitmap handed back by STM_SETIMAGE is the caller's to delete.
    picture = Control("Static", SS_BITMAP | SS_CENTERIMAGE, ordinal, 1, 5, 5, 100, 100);
    GetClientRect(picture, &r);
    EXPECT_EQ(100, r.right) << "SS_CENTERIMAGE keeps the control's size";
    HBITMAP own = (HBITMAP)SendMessageA(picture, STM_GETIMAGE, IMAGE_BITMAP, 0);
    HBITMAP other = (HBITMAP)LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(124), IMAGE_BITMAP, 0, 0, 0);
    EXPECT_EQ((LRESULT)own, SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)other));
    DestroyWindow(picture);
    EXPECT_EQ(before + 2, layer::LiveGdiObjects()) << "neither bitmap was the control's any more";
    DeleteObject(own);
    DeleteObject(other);
    EXPECT_EQ(before, layer::LiveGdiObjects());
}

TEST_F(LayerControlsTest, EditSelectionFollowsTheSystemsRules) {
    HWND edit = Control("Edit", ES_AUTOHSCROLL, "hello", 7);
    EXPECT_EQ("hello", Text(edit));
    auto sel = [&] { return SendMessageA(edit, EM_GETSEL, 0, 0); };
    EXPECT_EQ(MAKELONG(0, 0), sel()) << "made with text, the caret is at the start";
    SendMessageA(edit, EM_SETSEL, 0, -1);
    EXPECT_EQ(MAKELONG(0, 5), sel());
    SendMessageA(edit, EM_SETSEL, 9, 2);
    EXPECT_EQ(MAKELONG(2, 5), sel()) << "clamped, and reported in order";
    SendMessageA(edit, EM_SETSEL, (WPARAM)-1, 0);
    EXPECT_EQ(MAKELONG(2, 2), sel()) << "-1 drops the selection and keeps the caret";
    DWORD start = 9, end = 9;
    SendMessageA(edit, EM_SETSEL, 4, 1);
    SendMessageA(edit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    EXPECT_EQ(1u, start);
    EXPECT_EQ(4u, end);
    // Keys move the caret from the end the selection was made to.
    SendMessageA(edit, WM_KEYDOWN, VK_LEFT, 0);
    EXPECT_EQ(MAKELONG(1, 1), sel()) << "Left collapses a selection to its start";
    SendMessageA(edit, WM_KEYDOWN, VK_END, 0);
    SendMessageA(edit, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ("hello", Text(edit)) << "Delete at the end";
    SendMessageA(edit, WM_KEYDOWN, VK_HOME, 0);
    SendMessageA(edit, WM_KEYDOWN, VK_DELETE, 0);
    EXPECT_EQ("ello", Text(edit));
    char small[3] = "zz";
    EXPECT_EQ(2, SendMessageA(edit, WM_GETTEXT, sizeof small, (LPARAM)small));
    EXPECT_STREQ("el", small);
    EXPECT_EQ(4, SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0));
}

TEST_F(LayerControlsTest, EditStylesLimitWhatTypingDoes) {
    HWND number = Control("Edit", ES_NUMBER, "", 1);
    for (char c : std::string("1a2-3")) SendMessageA(number, WM_CHAR, (WPARAM)c, 1);
    EXPECT_EQ("123", Text(number));
    HWND upper = Control("Edit", ES_UPPERCASE, "", 2);
    for (char c : std::string("MiXed")) SendMessageA(upper, WM_CHAR, (WPARAM)c, 1);
    EXPECT_EQ("MIXED", Text(upper));
    HWND fixed = Control("Edit", ES_READONLY, "keep", 3);
    SendMessageA(fixed, WM_CHAR, 'x', 1);
    SendMessageA(fixed, WM_CHAR, VK_BACK, 1);
    EXPECT_EQ("keep", Text(fixed));

    HWND limited = Control("Edit", 0, "", 4);
    SendMessageA(limited, EM_LIMITTEXT, 3, 0);
    log().clear();
    for (char c : std::string("abcd")) SendMessageA(limited, WM_CHAR, (WPARAM)c, 1);
    EXPECT_EQ("abc", Text(limited));
    auto commands = Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(std::make_pair(4, (int)EN_MAXTEXT), commands.back()) << "the one that did not fit is reported";
    EXPECT_EQ(3, SendMessageA(limited, EM_GETLIMITTEXT, 0, 0));

    // A program's own text: a single-line box announces it, a multiline one not.
    HWND multi = Control("Edit", ES_MULTILINE, "", 5);
    log().clear();
    SetWindowTextA(limited, "set");
    SetWindowTextA(multi, "set");
    EXPECT_EQ((std::vector<std::pair<int, int>>{{4, EN_UPDATE}, {4, EN_CHANGE}}), Commands());
    EXPECT_FALSE(SendMessageA(limited, EM_GETMODIFY, 0, 0));
    SendMessageA(limited, EM_SETSEL, 0, -1);
    SendMessageA(limited, WM_CHAR, 'x', 1);
    EXPECT_TRUE(SendMessageA(limited, EM_GETMODIFY, 0, 0));
}

TEST_F(LayerControlsTest, AClickPutsTheCaretByTheCharacter) {
    // Text is measured with the system font, which the box draws with (about
    // 8 pixels a character here), one pixel in from the left.
    HWND edit = Control("Edit", 0, "abcdef", 1, 10, 10, 200, 24);
    SendMessageA(edit, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1 + 3 * 8 + 2, 5));
    SendMessageA(edit, WM_LBUTTONUP, 0, MAKELPARAM(1 + 3 * 8 + 2, 5));
    EXPECT_EQ(MAKELONG(3, 3), SendMessageA(edit, EM_GETSEL, 0, 0));
    EXPECT_EQ(edit, GetFocus());
    SendMessageA(edit, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(1 + 1 * 8, 5));
    SendMessageA(edit, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(1 + 5 * 8, 5));
    SendMessageA(edit, WM_LBUTTONUP, 0, MAKELPARAM(1 + 5 * 8, 5));
    EXPECT_EQ(MAKELONG(1, 5), SendMessageA(edit, EM_GETSEL, 0, 0)) << "a drag selects";
    // Right-aligned text ends at the right margin.
    HWND right = Control("Edit", ES_RIGHT, "12", 2, 10, 40, 100, 24);
    SendMessageA(right, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 5));
    EXPECT_EQ(MAKELONG(0, 0), SendMessageA(right, EM_GETSEL, 0, 0));
    SendMessageA(right, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100 - 1 - 8, 5));
    EXPECT_EQ(MAKELONG(1, 1), SendMessageA(right, EM_GETSEL, 0, 0));
}

TEST_F(LayerControlsTest, TrackbarRangesPositionsAndSizes) {
    HWND bar = Control(TRACKBAR_CLASSA, TBS_ENABLESELRANGE, "", 9, 10, 10, 200, 30);
    auto get = [&](UINT msg) { return SendMessageA(bar, msg, 0, 0); };
    // Two signed words: a high word past 32767 is negative.
    SendMessageA(bar, TBM_SETRANGE, TRUE, MAKELPARAM(-5, 40000));
    EXPECT_EQ(-5, get(TBM_GETRANGEMIN));
    EXPECT_EQ(40000 - 65536, get(TBM_GETRANGEMAX));
    SendMessageA(bar, TBM_SETRANGEMIN, FALSE, 10);
    SendMessageA(bar, TBM_SETRANGEMAX, FALSE, 60);
    EXPECT_EQ(10, get(TBM_GETPOS)) << "the position follows the range";
    EXPECT_EQ(10, get(TBM_GETPAGESIZE)) << "a new range brings a page of a fifth of it";
    // An upside-down range holds the position at its maximum.
    SendMessageA(bar, TBM_SETRANGE, FALSE, MAKELPARAM(40, 20));
    EXPECT_EQ(20, get(TBM_GETPOS));
    SendMessageA(bar, TBM_SETRANGE, FALSE, MAKELPARAM(0, 3));
    EXPECT_EQ(1, get(TBM_GETPAGESIZE)) << "never less than one";
    EXPECT_EQ(1, SendMessageA(bar, TBM_SETPAGESIZE, 0, 7)) << "the old size comes back";
    EXPECT_EQ(1, SendMessageA(bar, TBM_SETLINESIZE, 0, 2));
    EXPECT_EQ(2, get(TBM_GETLINESIZE));
    // The selection stays inside the range.
    SendMessageA(bar, TBM_SETSEL, FALSE, MAKELPARAM(-4, 9));
    EXPECT_EQ(0, get(TBM_GETSELSTART));
    EXPECT_EQ(3, get(TBM_GETSELEND));
    EXPECT_TRUE(Scrolls().empty()) << "the program's changes notify nobody";

    // The thumb lies in the channel, at the start for the minimum and at the
    // end for the maximum, and moves right as the position grows.
    SendMessageA(bar, TBM_SETRANGE, FALSE, MAKELPARAM(0, 100));
    RECT channel, thumb, previous = {-1, 0, -1, 0};
    SendMessageA(bar, TBM_GETCHANNELRECT, 0, (LPARAM)&channel);
    for (int p : {0, 1, 50, 99, 100}) {
        SendMessageA(bar, TBM_SETPOS, TRUE, p);
        SendMessageA(bar, TBM_GETTHUMBRECT, 0, (LPARAM)&thumb);
        EXPECT_GE(thumb.left, channel.left);
        EXPECT_LE(thumb.right, channel.right);
        EXPECT_GT(thumb.left, previous.left) << p;
        if (p == 0) {
            EXPECT_EQ(channel.left, thumb.left);
        }
        if (p == 100) {
            EXPECT_EQ(channel.right, thumb.right);
        }
        previous = thumb;
    }
    EXPECT_EQ(23, get(TBM_GETTHUMBLENGTH)) << "a selection range's thumb";
}

TEST_F(LayerControlsTest, ACapturedMouseReachesItsWindowEverywhere) {
    RegisterLogging("Kid");
    HWND kid = MakeWindow("Kid", WS_CHILD | WS_VISIBLE, 10, 10, 50, 50, parent);
    HWND other = MakeWindow("Kid", WS_CHILD | WS_VISIBLE, 100, 10, 50, 50, parent);
    EXPECT_EQ(nullptr, SetCapture(kid));
    EXPECT_EQ(kid, GetCapture());
    log().clear();
    layer::InjectMouseMove(20 + 120, 10 + 20);  // over `other`
    Pump();
    auto moves = [](const std::vector<UINT> &messages) {
        int n = 0;
        for (UINT m : messages) n += m == WM_MOUSEMOVE;
        return n;
    };
    EXPECT_EQ(1, moves(MessagesOf(kid)));
    EXPECT_EQ(0, moves(MessagesOf(other)));
    // Taking the capture tells the window that had it, and who took it.
    log().clear();
    EXPECT_EQ(kid, SetCapture(other));
    ASSERT_FALSE(log().empty());
    EXPECT_EQ((UINT)WM_CAPTURECHANGED, log()[0].message);
    EXPECT_EQ(kid, log()[0].hwnd);
    EXPECT_EQ((LPARAM)other, log()[0].lParam);
    EXPECT_TRUE(ReleaseCapture());
    EXPECT_EQ(nullptr, GetCapture());
    SetCapture(kid);
    DestroyWindow(kid);
    EXPECT_EQ(nullptr, GetCapture()) << "a destroyed window lets go of the mouse";
}

TEST_F(LayerControlsTest, GetKeyStateIsTheStateAsOfTheLastKeyTakenFromTheQueue) {
    SetFocus(parent);
    layer::InjectKey(VK_SHIFT, true);
    EXPECT_EQ(0, GetKeyState(VK_SHIFT)) << "not yet taken from the queue";
    Pump();
    EXPECT_NE(0, GetKeyState(VK_SHIFT) & 0x8000);
    layer::InjectKey(VK_SHIFT, false);
    Pump();
    EXPECT_EQ(0, GetKeyState(VK_SHIFT));
    // Typed with the shift still pressed when the key is read: upper case.
    layer::InjectKey(VK_SHIFT, true);
    layer::InjectKey(VK_OEM_MINUS, true);
    layer::InjectKey(VK_OEM_MINUS, false);
    layer::InjectKey(VK_SHIFT, false);
    layer::InjectKey(VK_OEM_MINUS, true);
    log().clear();
    Pump();
    std::string typed;
    for (const LoggedMessage &m : log())
        if (m.message == WM_CHAR) typed += (char)m.wParam;
    EXPECT_EQ("_-", typed);
}

}  // namespace
