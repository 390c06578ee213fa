// Dialogs as the configuration dialog uses them: a template from memory,
// WM_INITDIALOG and what the dialog item functions answer there, the keys a
// dialog's loop handles, trackbar and check box gestures, nested dialogs,
// and the failures. Each dialog drives itself with messages it posts to
// itself and ends itself, so nothing waits for a person.
#include "conformance.h"

#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "resource.h"

namespace {

// A classic DLGTEMPLATE assembled in memory, DWORD-aligned as the system wants it.
class Template {
public:
    Template(DWORD style, short cx, short cy, const char *title, const char *face = "MS Sans Serif", WORD points = 8) {
        Dword(style | (face ? DS_SETFONT : 0));
        Dword(0);
        count_ = words_.size();
        Word(0);
        Word(0);
        Word(0);
        Word((WORD)cx);
        Word((WORD)cy);
        Word(0);  // no menu
        Word(0);  // the dialog class
        String(title);
        if (face) {
            Word(points);
            String(face);
        }
    }

    // `atom` names a predefined class (0x80 button .. 0x82 static); otherwise `className`.
    Template &Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom, const char *text,
                   const char *className = nullptr, int ordinal = -1) {
        if (words_.size() % 2) Word(0);
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        Word((WORD)x);
        Word((WORD)y);
        Word((WORD)cx);
        Word((WORD)cy);
        Word(id);
        if (className) {
            String(className);
        } else {
            Word(0xFFFF);
            Word(atom);
        }
        if (ordinal >= 0) {
            Word(0xFFFF);
            Word((WORD)ordinal);
        } else {
            String(text);
        }
        Word(0);  // no creation data
        ++words_[count_];
        return *this;
    }

    LPCDLGTEMPLATEA Get() const { return reinterpret_cast<LPCDLGTEMPLATEA>(words_.data()); }

private:
    void Word(WORD w) { words_.push_back(w); }
    void Dword(DWORD d) {
        Word((WORD)(d & 0xFFFF));
        Word((WORD)(d >> 16));
    }
    void String(const char *s) {
        for (; *s; ++s) Word((unsigned char)*s);
        Word(0);
    }

    std::vector<WORD> words_;  // WORDs keep the start aligned
    size_t count_ = 0;
};

enum {
    kEdit = 101,
    kNumberBox = 102,
    kCheck = 103,
    kTrackbar = 104,
    kLabel = 105,
    kPicture = 106,
};

constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;

// The shape of the configuration dialog, smaller.
Template ConfigLike() {
    Template t(kDialogStyle, 200, 150, "Settings");
    t.Item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 10, 10, 60, 12, kEdit, 0x81, "")
        .Item(ES_RIGHT | ES_MULTILINE | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 80, 10, 30, 12, kNumberBox, 0x81, "")
        .Item(BS_AUTOCHECKBOX | WS_TABSTOP, 10, 30, 80, 10, kCheck, 0x80, "&Sound")
        .Item(WS_BORDER | WS_TABSTOP | TBS_HORZ | TBS_BOTH | TBS_NOTICKS | TBS_ENABLESELRANGE, 10, 45, 150, 18,
              kTrackbar, 0, "Slider1", TRACKBAR_CLASSA)
        .Item(BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 120, 120, 40, 14, IDOK, 0x80, "OK")
        .Item(BS_PUSHBUTTON | WS_TABSTOP, 160, 120, 40, 14, IDCANCEL, 0x80, "Cancel")
        .Item(SS_CENTER | WS_GROUP, 10, 70, 50, 8, kLabel, 0x82, "&Centre")
        .Item(SS_BITMAP, 10, 85, 5, 5, kPicture, 0x82, nullptr, nullptr, IDB_CONFIG_BANNER);
    return t;
}

// What the dialog procedure heard from its controls.
struct Heard {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

struct Script {
    std::function<void(HWND)> init;           // runs in WM_INITDIALOG
    std::vector<std::function<void(HWND)>> steps;  // one per WM_APP the dialog posts itself
    size_t next = 0;
    std::vector<Heard> heard;
    bool shown = false;
    LPARAM initParam = 0;
    WPARAM initFocus = 0;
};
Script *script = nullptr;

INT_PTR CALLBACK ScriptedProc(HWND dlg, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        script->initFocus = wParam;
        script->initParam = lParam;
        if (script->init) script->init(dlg);
        if (!script->steps.empty()) PostMessageA(dlg, WM_APP, 0, 0);
        return TRUE;
    case WM_SHOWWINDOW:
        if (wParam) script->shown = true;
        return FALSE;
    case WM_COMMAND:
    case WM_HSCROLL:
        script->heard.push_back({message, wParam, lParam});
        return TRUE;
    case WM_APP:
        if (script->next < script->steps.size()) {
            script->steps[script->next++](dlg);
            if (IsWindow(dlg)) PostMessageA(dlg, WM_APP, 0, 0);
        }
        return TRUE;
    }
    return FALSE;
}

class Dialogs : public Win32Test {
protected:
    void SetUp() override {
        Win32Test::SetUp();
        InitCommonControls();
        script = &current;
    }
    void TearDown() override {
        script = nullptr;
        Win32Test::TearDown();
    }

    INT_PTR Run(const Template &t, HWND owner = NULL, LPARAM param = 0) {
        return DialogBoxIndirectParamA(Instance(), t.Get(), owner, ScriptedProc, param);
    }

    // The notifications heard since `from`: WM_COMMAND codes or WM_HSCROLL scroll codes.
    std::vector<int> Codes(UINT message, size_t from = 0) const {
        std::vector<int> codes;
        for (size_t i = from; i < current.heard.size(); ++i)
            if (current.heard[i].message == message) codes.push_back(LOWORD(current.heard[i].wParam));
        return codes;
    }
    // The WM_COMMAND notifications from `id` since `from`, as notification codes.
    std::vector<int> Commands(int id, size_t from = 0) const {
        std::vector<int> codes;
        for (size_t i = from; i < current.heard.size(); ++i) {
            const Heard &h = current.heard[i];
            if (h.message == WM_COMMAND && LOWORD(h.wParam) == id) codes.push_back(HIWORD(h.wParam));
        }
        return codes;
    }
    size_t Mark() const { return current.heard.size(); }

    Script current;
};

// A control's rectangle on the screen: its size, and its place against the others.
RECT ScreenRectOf(HWND dlg, int id) {
    RECT r = {0, 0, 0, 0};
    GetWindowRect(GetDlgItem(dlg, id), &r);
    return r;
}

std::string Text(HWND dlg, int id) {
    char text[64] = "";
    GetDlgItemTextA(dlg, id, text, sizeof text);
    return text;
}

UINT IntOf(HWND dlg, const char *text, BOOL isSigned, BOOL *translated) {
    SetDlgItemTextA(dlg, kEdit, text);
    return GetDlgItemInt(dlg, kEdit, translated, isSigned);
}

TEST_F(Dialogs, InitDialogSeesWhatTheProgramReliesOn) {
    HWND owner = MakeQuietWindow();
    Template t = ConfigLike();
    current.init = [&](HWND dlg) {
        EXPECT_EQ(GetDlgItem(dlg, kEdit), (HWND)current.initFocus) << "wParam is the first tab stop";
        EXPECT_FALSE(IsWindowEnabled(owner)) << "a modal dialog's owner takes no input";
        EXPECT_EQ(owner, (HWND)GetWindowLongPtrA(dlg, GWLP_HWNDPARENT));
        EXPECT_FALSE(IsWindowVisible(dlg)) << "a dialog is shown once it has nothing to do";

        // Numbers in and out of a single-line and a multiline box.
        for (int box : {kEdit, kNumberBox}) {
            BOOL ok = FALSE;
            EXPECT_TRUE(SetDlgItemInt(dlg, box, 1234, FALSE));
            EXPECT_EQ("1234", Text(dlg, box));
            EXPECT_EQ(1234u, GetDlgItemInt(dlg, box, &ok, FALSE));
            EXPECT_TRUE(ok);
            SetDlgItemInt(dlg, box, (UINT)-42, TRUE);
            EXPECT_EQ("-42", Text(dlg, box));
            EXPECT_EQ(-42, (int)GetDlgItemInt(dlg, box, &ok, TRUE));
            EXPECT_TRUE(ok);
            SetDlgItemInt(dlg, box, (UINT)-42, FALSE);
            EXPECT_EQ("4294967254", Text(dlg, box));
        }
        // Text that is a number as far as it goes, and text that is none.
        // (Values at the limits come last: one system keeps the overflow of
        // an earlier call in mind and would refuse them after it.)
        struct Case {
            const char *text;
            BOOL isSigned;
            UINT value;
            BOOL translated;
        } cases[] = {
            {"", FALSE, 0, FALSE},           {"abc", TRUE, 0, FALSE},         {"abc", FALSE, 0, FALSE},
            {"  42", FALSE, 42, TRUE},       {"12abc", FALSE, 12, TRUE},      {"-5", TRUE, (UINT)-5, TRUE},
            {"2147483647", TRUE, 2147483647u, TRUE},
            {"2147483648", TRUE, 0, FALSE},  {"2147483648", FALSE, 2147483648u, TRUE},
            {"4294967296", FALSE, 0, FALSE}, {"99999999999", TRUE, 0, FALSE}, {"99999999999", FALSE, 0, FALSE},
        };
        for (const Case &c : cases) {
            BOOL translated = 77;
            EXPECT_EQ(c.value, IntOf(dlg, c.text, c.isSigned, &translated)) << "'" << c.text << "'";
            EXPECT_EQ(c.translated, translated) << "'" << c.text << "'";
            EXPECT_EQ(c.value, IntOf(dlg, c.text, c.isSigned, nullptr)) << "'" << c.text << "' without the flag";
        }
        BOOL translated = 77;
        EXPECT_EQ(0u, GetDlgItemInt(dlg, 999, &translated, TRUE)) << "no such control";
        EXPECT_FALSE(translated);

        // The check box holds checked or not; two is as much as it has.
        EXPECT_EQ((UINT)BST_UNCHECKED, IsDlgButtonChecked(dlg, kCheck));
        CheckDlgButton(dlg, kCheck, BST_CHECKED);
        EXPECT_EQ((UINT)BST_CHECKED, IsDlgButtonChecked(dlg, kCheck));
        CheckDlgButton(dlg, kCheck, BST_INDETERMINATE);
        EXPECT_EQ((UINT)BST_CHECKED, IsDlgButtonChecked(dlg, kCheck));
        CheckDlgButton(dlg, kCheck, BST_UNCHECKED);
        EXPECT_EQ((UINT)BST_UNCHECKED, IsDlgButtonChecked(dlg, kCheck));
        EXPECT_EQ(0u, IsDlgButtonChecked(dlg, 999));

        // The trackbar: its defaults, then a range and positions clamped into it.
        EXPECT_EQ(0, SendDlgItemMessageA(dlg, kTrackbar, TBM_GETRANGEMIN, 0, 0));
        EXPECT_EQ(100, SendDlgItemMessageA(dlg, kTrackbar, TBM_GETRANGEMAX, 0, 0));
        EXPECT_EQ(0, SendDlgItemMessageA(dlg, kTrackbar, TBM_GETPOS, 0, 0));
        EXPECT_EQ(20, SendDlgItemMessageA(dlg, kTrackbar, TBM_GETPAGESIZE, 0, 0));
        EXPECT_EQ(1, SendDlgItemMessageA(dlg, kTrackbar, TBM_GETLINESIZE, 0, 0));
        SendDlgItemMessageA(dlg, kTrackbar, TBM_SETRANGE, FALSE, MAKELPARAM(1, 200));
        EXPECT_EQ(1, SendDlgItemMessageA(dlg, kTrackbar, TBM_GETRANGEMIN, 0, 0));
        EXPECT_EQ(200, SendDlgItemMessageA(dlg, kTrackbar, TBM_GETRANGEMAX, 0, 0));
        EXPECT_EQ(1, SendDlgItemMessageA(dlg, kTrackbar, TBM_GETPOS, 0, 0)) << "the position follows the range";
        SendDlgItemMessageA(dlg, kTrackbar, TBM_SETPOS, TRUE, 500);
        EXPECT_EQ(200, SendDlgItemMessageA(dlg, kTrackbar, TBM_GETPOS, 0, 0));
        SendDlgItemMessageA(dlg, kTrackbar, TBM_SETPOS, TRUE, -3);
        EXPECT_EQ(1, SendDlgItemMessageA(dlg, kTrackbar, TBM_GETPOS, 0, 0));
        SendDlgItemMessageA(dlg, kTrackbar, TBM_SETPOS, TRUE, 77);
        EXPECT_EQ(77, SendDlgItemMessageA(dlg, kTrackbar, TBM_GETPOS, 0, 0));
        EXPECT_EQ(0, SendDlgItemMessageA(dlg, 999, TBM_GETPOS, 0, 0));
        EXPECT_TRUE(Codes(WM_HSCROLL).empty()) << "the program's own moves notify nobody";

        // What each control tells the dialog manager it wants.
        EXPECT_EQ(DLGC_HASSETSEL | DLGC_WANTCHARS | DLGC_WANTARROWS,
                  SendDlgItemMessageA(dlg, kEdit, WM_GETDLGCODE, 0, 0));
        EXPECT_EQ(DLGC_HASSETSEL | DLGC_WANTCHARS | DLGC_WANTARROWS | DLGC_WANTALLKEYS,
                  SendDlgItemMessageA(dlg, kNumberBox, WM_GETDLGCODE, 0, 0));
        EXPECT_EQ(DLGC_BUTTON, SendDlgItemMessageA(dlg, kCheck, WM_GETDLGCODE, 0, 0));
        EXPECT_EQ(DLGC_WANTARROWS, SendDlgItemMessageA(dlg, kTrackbar, WM_GETDLGCODE, 0, 0));
        EXPECT_EQ(DLGC_BUTTON | DLGC_DEFPUSHBUTTON, SendDlgItemMessageA(dlg, IDOK, WM_GETDLGCODE, 0, 0));
        EXPECT_EQ(DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON, SendDlgItemMessageA(dlg, IDCANCEL, WM_GETDLGCODE, 0, 0));
        EXPECT_EQ(DLGC_STATIC, SendDlgItemMessageA(dlg, kLabel, WM_GETDLGCODE, 0, 0));
        EXPECT_EQ(MAKELONG(IDOK, DC_HASDEFID), SendMessageA(dlg, DM_GETDEFID, 0, 0));

        // A border in a template becomes the sunken edge.
        EXPECT_FALSE(GetWindowLongA(GetDlgItem(dlg, kEdit), GWL_STYLE) & WS_BORDER);
        EXPECT_EQ(WS_EX_CLIENTEDGE | WS_EX_NOPARENTNOTIFY,
                  GetWindowLongA(GetDlgItem(dlg, kEdit), GWL_EXSTYLE) & (WS_EX_CLIENTEDGE | WS_EX_NOPARENTNOTIFY));

        // Controls sit where the template's dialog units say, in the font's
        // units: places and sizes are each converted on their own.
        RECT editPlace = {10, 10, 0, 0}, boxPlace = {80, 10, 0, 0}, sliderPlace = {10, 45, 0, 0};
        RECT editSize = {0, 0, 60, 12}, sliderSize = {0, 0, 150, 18};
        for (RECT *r : {&editPlace, &boxPlace, &sliderPlace, &editSize, &sliderSize}) MapDialogRect(dlg, r);
        RECT e = ScreenRectOf(dlg, kEdit), b = ScreenRectOf(dlg, kNumberBox), s = ScreenRectOf(dlg, kTrackbar);
        EXPECT_EQ(editSize.right, e.right - e.left);
        EXPECT_EQ(editSize.bottom, e.bottom - e.top);
        EXPECT_EQ(sliderSize.right, s.right - s.left);
        EXPECT_EQ(sliderSize.bottom, s.bottom - s.top);
        EXPECT_EQ(boxPlace.left - editPlace.left, b.left - e.left);
        EXPECT_EQ(sliderPlace.top - editPlace.top, s.top - e.top);
        RECT dialogClient;
        GetClientRect(dlg, &dialogClient);
        RECT client = {0, 0, 200, 150};
        MapDialogRect(dlg, &client);
        EXPECT_EQ(client.right, dialogClient.right);
        EXPECT_EQ(client.bottom, dialogClient.bottom);

        // The picture static shows its bitmap from the resources, at the bitmap's size.
        HBITMAP picture = (HBITMAP)SendDlgItemMessageA(dlg, kPicture, STM_GETIMAGE, IMAGE_BITMAP, 0);
        ASSERT_NE(nullptr, picture);
        BITMAP bm = {};
        ASSERT_EQ((int)sizeof bm, GetObjectA(picture, sizeof bm, &bm));
        RECT p = ScreenRectOf(dlg, kPicture);
        EXPECT_EQ(bm.bmWidth, p.right - p.left);
        EXPECT_EQ(bm.bmHeight, p.bottom - p.top);

        EXPECT_TRUE(EndDialog(dlg, 42));
        EXPECT_TRUE(IsWindowEnabled(owner)) << "EndDialog gives the owner its input back";
    };
    EXPECT_EQ(42, Run(t, owner, 0x5EED));
    EXPECT_EQ(0x5EED, current.initParam);
    EXPECT_FALSE(current.shown) << "a dialog ended in WM_INITDIALOG is never shown";
    EXPECT_TRUE(IsWindowEnabled(owner));
}

// The notifications heard from `id` since `from` must include `command`
// with the control in lParam.
#define EXPECT_COMMAND(dlg, id, code, from)                                                         \
    do {                                                                                            \
        bool found = false;                                                                         \
        for (size_t i = (from); i < current.heard.size(); ++i) {                                    \
            const Heard &h = current.heard[i];                                                      \
            if (h.message == WM_COMMAND && h.wParam == MAKEWPARAM((id), (code))) {                   \
                found = true;                                                                       \
                EXPECT_EQ((LPARAM)GetDlgItem((dlg), (id)), h.lParam) << "the control is in lParam"; \
            }                                                                                       \
        }                                                                                           \
        EXPECT_TRUE(found) << "no WM_COMMAND " << (id) << "/" << (code);                            \
    } while (0)

TEST_F(Dialogs, KeysDoWhatADialogsLoopMakesThemDo) {
    size_t mark = 0;
    auto wait = [](HWND) {};
    current.steps = {
        [&](HWND dlg) {
            EXPECT_EQ(GetDlgItem(dlg, kEdit), GetFocus()) << "the first tab stop has the focus";
            PostMessageA(GetFocus(), WM_KEYDOWN, VK_TAB, 0x000F0001);
        },
        [&](HWND dlg) {
            EXPECT_EQ(GetDlgItem(dlg, kNumberBox), GetFocus()) << "Tab goes to the next tab stop";
            SetFocus(GetDlgItem(dlg, kEdit));
            mark = Mark();
            PostMessageA(GetFocus(), WM_KEYDOWN, VK_RETURN, 0x001C0001);
        },
        [&](HWND dlg) {
            EXPECT_COMMAND(dlg, IDOK, BN_CLICKED, mark);  // Enter in a box is the default button
            mark = Mark();
            PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        },
        [&](HWND dlg) {
            EXPECT_COMMAND(dlg, IDCANCEL, BN_CLICKED, mark);
            // A multiline box takes Enter and hands it to the default button.
            SetFocus(GetDlgItem(dlg, kNumberBox));
            mark = Mark();
            PostMessageA(GetFocus(), WM_KEYDOWN, VK_RETURN, 0x001C0001);
        },
        [&](HWND dlg) {
            EXPECT_EQ(GetDlgItem(dlg, IDOK), GetFocus()) << "Enter moved the focus to the default button";
        },
        [&](HWND dlg) {
            EXPECT_COMMAND(dlg, IDOK, BN_CLICKED, mark);
            EXPECT_EQ("", Text(dlg, kNumberBox)) << "Enter typed nothing into the box";
            // ...and Escape to the dialog, as Cancel.
            SetFocus(GetDlgItem(dlg, kNumberBox));
            mark = Mark();
            PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        },
        wait,
        wait,
        [&](HWND dlg) {
            EXPECT_COMMAND(dlg, IDCANCEL, BN_CLICKED, mark);
            // Alt+S presses the check box whose caption underlines S.
            SetFocus(GetDlgItem(dlg, kEdit));
            mark = Mark();
            PostMessageA(GetFocus(), WM_SYSCHAR, 's', 0x20000001);
        },
        [&](HWND dlg) {
            EXPECT_EQ((UINT)BST_CHECKED, IsDlgButtonChecked(dlg, kCheck));
            EXPECT_COMMAND(dlg, kCheck, BN_CLICKED, mark);
            // A plain letter is a mnemonic where the focus takes no characters:
            // the label's passes the focus on to the next tab stop.
            SetFocus(GetDlgItem(dlg, kCheck));
            PostMessageA(GetFocus(), WM_CHAR, 'c', 1);
        },
        [&](HWND dlg) {
            EXPECT_EQ(GetDlgItem(dlg, kEdit), GetFocus());
            SetDlgItemTextA(dlg, kEdit, "");
            PostMessageA(GetFocus(), WM_CHAR, 's', 1);
        },
        [&](HWND dlg) {
            EXPECT_EQ("s", Text(dlg, kEdit)) << "a box that takes characters gets the letter";
            EXPECT_EQ((UINT)BST_CHECKED, IsDlgButtonChecked(dlg, kCheck));
            // The trackbar takes the arrows itself: one notification per step,
            // TB_ENDTRACK when the key comes up.
            HWND slider = GetDlgItem(dlg, kTrackbar);
            SendMessageA(dlg, WM_NEXTDLGCTL, (WPARAM)slider, TRUE);
            SendMessageA(slider, TBM_SETPOS, TRUE, 99);
            mark = Mark();
            PostMessageA(slider, WM_KEYDOWN, VK_RIGHT, 0x014D0001);
            PostMessageA(slider, WM_KEYDOWN, VK_RIGHT, 0x414D0001);
            PostMessageA(slider, WM_KEYUP, VK_RIGHT, 0xC14D0001);
            PostMessageA(slider, WM_KEYDOWN, VK_PRIOR, 0x01490001);
            PostMessageA(slider, WM_KEYUP, VK_PRIOR, 0xC1490001);
            PostMessageA(slider, WM_KEYDOWN, VK_HOME, 0x01470001);
            PostMessageA(slider, WM_KEYUP, VK_HOME, 0xC1470001);
            PostMessageA(slider, WM_KEYDOWN, VK_END, 0x014F0001);
            PostMessageA(slider, WM_KEYUP, VK_END, 0xC14F0001);
        },
        [&](HWND dlg) {
            EXPECT_EQ((std::vector<int>{TB_LINEDOWN, TB_ENDTRACK, TB_PAGEUP, TB_ENDTRACK, TB_TOP, TB_ENDTRACK,
                                        TB_BOTTOM, TB_ENDTRACK}),
                      Codes(WM_HSCROLL, mark));
            for (size_t i = mark; i < current.heard.size(); ++i) {
                if (current.heard[i].message == WM_HSCROLL) {
                    EXPECT_EQ((LPARAM)GetDlgItem(dlg, kTrackbar), current.heard[i].lParam);
                }
            }
            EXPECT_EQ(100, SendDlgItemMessageA(dlg, kTrackbar, TBM_GETPOS, 0, 0));
            PostMessageA(GetFocus(), WM_KEYDOWN, VK_TAB, 0x000F0001);
        },
        [&](HWND dlg) {
            EXPECT_EQ(GetDlgItem(dlg, IDOK), GetFocus()) << "Tab leaves the trackbar";
            // Arrows move within a group: OK and Cancel are one.
            PostMessageA(GetFocus(), WM_KEYDOWN, VK_RIGHT, 0x014D0001);
        },
        [&](HWND dlg) {
            EXPECT_EQ(GetDlgItem(dlg, IDCANCEL), GetFocus());
            // The close box is Cancel too.
            mark = Mark();
            PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
        },
        wait,
        [&](HWND dlg) {
            EXPECT_COMMAND(dlg, IDCANCEL, BN_CLICKED, mark);
            EndDialog(dlg, 7);
        },
    };
    EXPECT_EQ(7, Run(ConfigLike()));
    EXPECT_EQ(current.steps.size(), current.next);
}

TEST_F(Dialogs, ClicksAndDragsOnTheControls) {
    current.init = [&](HWND dlg) {
        // A click on the check box toggles it and tells the dialog; a press
        // released outside does nothing.
        HWND check = GetDlgItem(dlg, kCheck);
        size_t mark = Mark();
        SendMessageA(check, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
        EXPECT_EQ((UINT)BST_UNCHECKED, IsDlgButtonChecked(dlg, kCheck)) << "nothing happens until the release";
        SendMessageA(check, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
        EXPECT_EQ((UINT)BST_CHECKED, IsDlgButtonChecked(dlg, kCheck));
        EXPECT_EQ((std::vector<int>{BN_CLICKED}), Commands(kCheck, mark));
        mark = Mark();
        SendMessageA(check, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
        SendMessageA(check, WM_LBUTTONUP, 0, MAKELPARAM(-30, 3));
        EXPECT_EQ((UINT)BST_CHECKED, IsDlgButtonChecked(dlg, kCheck));
        EXPECT_TRUE(Commands(kCheck, mark).empty());
        SendMessageA(check, BM_CLICK, 0, 0);
        EXPECT_EQ((UINT)BST_UNCHECKED, IsDlgButtonChecked(dlg, kCheck));
        EXPECT_EQ((std::vector<int>{BN_CLICKED}), Commands(kCheck, mark));
        mark = Mark();
        SendDlgItemMessageA(dlg, IDCANCEL, BM_CLICK, 0, 0);
        EXPECT_COMMAND(dlg, IDCANCEL, BN_CLICKED, mark);

        // The thumb dragged past the end: the position follows and stops at
        // the maximum; the release reports where it ended.
        HWND slider = GetDlgItem(dlg, kTrackbar);
        SendMessageA(slider, TBM_SETPOS, TRUE, 50);
        RECT thumb = {0, 0, 0, 0};
        SendMessageA(slider, TBM_GETTHUMBRECT, 0, (LPARAM)&thumb);
        int x = (thumb.left + thumb.right) / 2, y = (thumb.top + thumb.bottom) / 2;
        mark = Mark();
        SendMessageA(slider, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        EXPECT_EQ(slider, GetFocus()) << "a press gives the trackbar the focus";
        SendMessageA(slider, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x + 2000, y));
        SendMessageA(slider, WM_LBUTTONUP, 0, MAKELPARAM(x + 2000, y));
        EXPECT_EQ(100, SendMessageA(slider, TBM_GETPOS, 0, 0));
        std::vector<Heard> scrolls;
        for (size_t i = mark; i < current.heard.size(); ++i)
            if (current.heard[i].message == WM_HSCROLL) scrolls.push_back(current.heard[i]);
        ASSERT_GE(scrolls.size(), 3u);
        EXPECT_EQ(MAKEWPARAM(TB_THUMBTRACK, 100), scrolls[0].wParam);
        EXPECT_EQ(MAKEWPARAM(TB_THUMBPOSITION, 100), scrolls[1].wParam);
        for (size_t i = 2; i < scrolls.size(); ++i) EXPECT_EQ((WPARAM)TB_ENDTRACK, scrolls[i].wParam);
        EXPECT_EQ((LPARAM)slider, scrolls[0].lParam);

        // A press on the channel before the thumb pages towards it.
        SendMessageA(slider, TBM_SETPOS, TRUE, 50);
        RECT channel = {0, 0, 0, 0};
        SendMessageA(slider, TBM_GETCHANNELRECT, 0, (LPARAM)&channel);
        SendMessageA(slider, TBM_GETTHUMBRECT, 0, (LPARAM)&thumb);
        mark = Mark();
        SendMessageA(slider, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(channel.left + 2, (thumb.top + thumb.bottom) / 2));
        EXPECT_EQ(30, SendMessageA(slider, TBM_GETPOS, 0, 0)) << "one page of 20";
        SendMessageA(slider, WM_LBUTTONUP, 0, MAKELPARAM(channel.left + 2, (thumb.top + thumb.bottom) / 2));
        std::vector<int> codes = Codes(WM_HSCROLL, mark);
        ASSERT_GE(codes.size(), 2u);
        EXPECT_EQ(TB_PAGEUP, codes[0]);
        EXPECT_EQ(TB_ENDTRACK, codes.back());

        // Typing at the caret and Backspace, each change announced.
        HWND edit = GetDlgItem(dlg, kEdit);
        SetWindowTextA(edit, "abc");
        SendMessageA(edit, EM_SETSEL, 1, 1);
        mark = Mark();
        SendMessageA(edit, WM_CHAR, 'X', 1);
        EXPECT_EQ("aXbc", Text(dlg, kEdit));
        EXPECT_EQ(MAKELONG(2, 2), SendMessageA(edit, EM_GETSEL, 0, 0));
        std::vector<int> notes = Commands(kEdit, mark);
        EXPECT_NE(notes.end(), std::find(notes.begin(), notes.end(), EN_CHANGE));
        SendMessageA(edit, WM_CHAR, VK_BACK, 1);
        SendMessageA(edit, WM_CHAR, VK_BACK, 1);
        mark = Mark();
        SendMessageA(edit, WM_CHAR, VK_BACK, 1);
        EXPECT_EQ("bc", Text(dlg, kEdit));
        EXPECT_EQ(MAKELONG(0, 0), SendMessageA(edit, EM_GETSEL, 0, 0));
        EXPECT_TRUE(Commands(kEdit, mark).empty()) << "Backspace at the start changes nothing";
        SendMessageA(edit, EM_SETSEL, 0, -1);
        EXPECT_EQ(MAKELONG(0, 2), SendMessageA(edit, EM_GETSEL, 0, 0));
        SendMessageA(edit, WM_CHAR, 'Z', 1);
        EXPECT_EQ("Z", Text(dlg, kEdit));

        EndDialog(dlg, 3);
    };
    EXPECT_EQ(3, Run(ConfigLike()));
}

HWND outerDialog = NULL;

INT_PTR CALLBACK NestedProc(HWND dlg, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        EXPECT_FALSE(IsWindowEnabled(outerDialog)) << "the dialog under it takes no input";
        EXPECT_EQ(outerDialog, (HWND)GetWindowLongPtrA(dlg, GWLP_HWNDPARENT));
        if (lParam == 5) {
            EndDialog(dlg, 5);
            EXPECT_TRUE(IsWindowEnabled(outerDialog)) << "EndDialog gives the owner its input back at once";
        } else {
            PostMessageA(dlg, WM_APP, 0, 0);
        }
        return TRUE;
    case WM_APP:
        EndDialog(dlg, 6);
        return TRUE;
    }
    return FALSE;
}

TEST_F(Dialogs, ANestedDialogDisablesTheOneUnderIt) {
    Template inner(kDialogStyle, 100, 50, "Inner", "System", 8);
    inner.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 30, 20, 40, 14, IDOK, 0x80, "OK");
    current.steps = {
        [&](HWND dlg) {
            outerDialog = dlg;
            EXPECT_EQ(5, DialogBoxIndirectParamA(Instance(), inner.Get(), dlg, NestedProc, 5));
            EXPECT_TRUE(IsWindowEnabled(dlg));
            // This one runs its own loop before it ends.
            EXPECT_EQ(6, DialogBoxIndirectParamA(Instance(), inner.Get(), dlg, NestedProc, 6));
            EXPECT_TRUE(IsWindowEnabled(dlg));
        },
        [&](HWND dlg) { EndDialog(dlg, 9); },
    };
    EXPECT_EQ(9, Run(ConfigLike()));
}

INT_PTR CALLBACK ResultProc(HWND dlg, UINT message, WPARAM, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        PostMessageA(dlg, WM_APP, 0, 0);
        return FALSE;  // the focus is left alone
    case DM_GETDEFID:
        SetWindowLongPtrA(dlg, DWLP_MSGRESULT, MAKELONG(IDCANCEL, DC_HASDEFID));
        return TRUE;
    case WM_APP:
        EXPECT_FALSE(IsChild(dlg, GetFocus())) << "WM_INITDIALOG returned FALSE: no control got the focus";
        // A handled message answers with what the procedure put in DWLP_MSGRESULT.
        EXPECT_EQ(MAKELONG(IDCANCEL, DC_HASDEFID), SendMessageA(dlg, DM_GETDEFID, 0, 0));
        EndDialog(dlg, 11);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK DestroyingProc(HWND dlg, UINT message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) DestroyWindow(dlg);
    return FALSE;
}

TEST_F(Dialogs, ProcedureResultsAndFailures) {
    EXPECT_EQ(11, DialogBoxIndirectParamA(Instance(), ConfigLike().Get(), NULL, ResultProc, 0));

    SetLastError(0);
    EXPECT_EQ(-1, DialogBoxParamA(Instance(), MAKEINTRESOURCEA(4321), NULL, ScriptedProc, 0));
    EXPECT_EQ((DWORD)ERROR_RESOURCE_NAME_NOT_FOUND, GetLastError());

    HWND gone = MakeQuietWindow();
    DestroyWindow(gone);
    SetLastError(0);
    EXPECT_EQ(0, DialogBoxParamA(Instance(), MAKEINTRESOURCEA(4321), gone, ScriptedProc, 0))
        << "an owner that is no window is refused first, with 0";
    EXPECT_EQ((DWORD)ERROR_INVALID_WINDOW_HANDLE, GetLastError());
    SetLastError(0);
    EXPECT_EQ(-1, DialogBoxIndirectParamA(Instance(), ConfigLike().Get(), gone, ScriptedProc, 0));
    EXPECT_EQ((DWORD)ERROR_INVALID_WINDOW_HANDLE, GetLastError());

    EXPECT_EQ(-1, DialogBoxIndirectParamA(Instance(), ConfigLike().Get(), NULL, DestroyingProc, 0))
        << "a dialog destroyed in WM_INITDIALOG";

    HWND plain = MakeQuietWindow();
    EXPECT_FALSE(EndDialog(plain, 1)) << "only a dialog can be ended";
    EXPECT_TRUE(IsWindow(plain));
}

}  // namespace
