// Modal dialogs on the headless desktop, driven as a person drives them:
// how a template becomes windows, WM_INITDIALOG and the focus, the owner,
// nested dialogs, the keys a dialog's loop handles, and the failures.
#include <commctrl.h>

#include <string>
#include <vector>

#include "dialog_fixture.h"
#include "layer_fixture.h"
#include "res_builder.h"

namespace {

using resbuild::DialogBytes;
using resbuild::Str;

enum { kName = 101, kNumber = 102, kCheck = 103, kLocked = 104, kSlider = 105, kAbout = 106, kLabel = 0xFFFF };

// A dialog like the configuration dialog: a labelled box, a number box, two
// check boxes (one disabled), a trackbar, three buttons and a group box.
DialogBytes Form(DWORD extraStyle = 0) {
    DialogBytes d(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | extraStyle, 200, 120, "Form");
    d.At(10, 10).Font(8, "MS Sans Serif");
    d.Item(SS_LEFT | WS_VISIBLE, 5, 5, 40, 8, kLabel, resbuild::StaticAtom(), Str("&Name:"))
        .Item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_VISIBLE, 50, 5, 60, 12, kName, resbuild::EditAtom(), Str(""))
        .Item(ES_MULTILINE | ES_RIGHT | WS_BORDER | WS_TABSTOP | WS_VISIBLE, 120, 5, 30, 12, kNumber,
              resbuild::EditAtom(), Str(""))
        .Item(BS_AUTOCHECKBOX | WS_TABSTOP | WS_VISIBLE, 5, 20, 80, 10, kCheck, resbuild::ButtonAtom(), Str("&Sound"))
        .Item(BS_AUTOCHECKBOX | WS_TABSTOP | WS_DISABLED | WS_VISIBLE, 5, 32, 80, 10, kLocked, resbuild::ButtonAtom(),
              Str("&Locked"))
        .Item(WS_BORDER | WS_TABSTOP | TBS_BOTH | TBS_NOTICKS | TBS_ENABLESELRANGE | WS_VISIBLE, 5, 45, 150, 18,
              kSlider, Str(TRACKBAR_CLASSA), Str("Slider1"))
        .Item(BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP | WS_VISIBLE, 60, 100, 40, 14, IDOK, resbuild::ButtonAtom(),
              Str("OK"))
        .Item(BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 110, 100, 40, 14, IDCANCEL, resbuild::ButtonAtom(),
              Str("Cancel"))
        .Item(BS_PUSHBUTTON | WS_TABSTOP | WS_VISIBLE, 155, 100, 40, 14, kAbout, resbuild::ButtonAtom(),
              Str("&About"))
        .Item(BS_GROUPBOX | WS_GROUP | WS_VISIBLE, 2, 2, 196, 95, kLabel, resbuild::ButtonAtom(), Str(" Options "));
    return d;
}

struct Heard {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class LayerDialogTest : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        layer::SetTickCount(1000);
        heard().clear();
        onInit() = nullptr;
        initResult() = TRUE;
        endOnButtons() = true;
    }
    void TearDown() override {
        layer::SetIdleHook(nullptr);
        LayerTest::TearDown();
    }

    static std::vector<Heard> &heard() {
        static std::vector<Heard> h;
        return h;
    }
    static std::function<void(HWND)> &onInit() {
        static std::function<void(HWND)> f;
        return f;
    }
    static INT_PTR &initResult() {
        static INT_PTR r;
        return r;
    }
    // OK, Cancel and About end the dialog with their identifier.
    static bool &endOnButtons() {
        static bool b;
        return b;
    }

    static INT_PTR CALLBACK Proc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
        switch (msg) {
        case WM_SETFONT:
        case WM_INITDIALOG:
        case WM_COMMAND:
        case WM_HSCROLL:
            heard().push_back({msg, wParam, lParam});
            break;
        }
        if (msg == WM_INITDIALOG) {
            if (onInit()) onInit()(dlg);
            return initResult();
        }
        if (msg == WM_COMMAND && endOnButtons() && HIWORD(wParam) == BN_CLICKED &&
            (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == kAbout)) {
            EndDialog(dlg, LOWORD(wParam));
            return TRUE;
        }
        return msg == WM_COMMAND || msg == WM_HSCROLL;
    }

    static INT_PTR Run(const DialogBytes &d, HWND owner = nullptr, LPARAM param = 0) {
        std::vector<uint8_t> bytes = d.Bytes();
        return DialogBoxIndirectParamA(GetModuleHandleA(nullptr), (LPCDLGTEMPLATEA)bytes.data(), owner, Proc, param);
    }

    static HWND Item(int id) { return GetDlgItem(layer::ActiveDialog(), id); }
    static void Key(UINT vk, bool alt = false) {
        layer::InjectKey(vk, true, alt);
        layer::InjectKey(vk, false, alt);
    }
    static void ShiftTab() {
        layer::InjectKey(VK_SHIFT, true);
        Key(VK_TAB);
        layer::InjectKey(VK_SHIFT, false);
    }
    static int FocusId() { return GetDlgCtrlID(GetFocus()); }
    // The WM_COMMAND notifications heard since `from`: identifier and code.
    static std::vector<std::pair<int, int>> Commands(size_t from = 0) {
        std::vector<std::pair<int, int>> out;
        for (size_t i = from; i < heard().size(); ++i)
            if (heard()[i].message == WM_COMMAND) out.push_back({LOWORD(heard()[i].wParam), HIWORD(heard()[i].wParam)});
        return out;
    }
    static std::vector<int> CommandsOf(int id, size_t from = 0) {
        std::vector<int> out;
        for (auto [from_id, code] : Commands(from))
            if (from_id == id) out.push_back(code);
        return out;
    }
    static std::vector<int> Scrolls(size_t from = 0) {
        std::vector<int> out;
        for (size_t i = from; i < heard().size(); ++i)
            if (heard()[i].message == WM_HSCROLL) out.push_back(LOWORD(heard()[i].wParam));
        return out;
    }
    static std::string Text(int id) {
        char text[128] = "";
        GetDlgItemTextA(layer::ActiveDialog(), id, text, sizeof text);
        return text;
    }
};

// ---- making the dialog --------------------------------------------------------------

// (v * base) / div to the nearest, as the dialog manager converts dialog units.
int Scale(int v, int base, int div) { return (v * base * 2 + div) / (2 * div); }

// A control class that logs when each control of it is made.
std::vector<std::string> made;
LRESULT CALLBACK MadeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CREATE) {
        char text[32] = "";
        GetWindowTextA(hwnd, text, sizeof text);
        made.push_back(text);
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

TEST_F(LayerDialogTest, ControlsAreMadeInTemplateOrderAfterTheFontAndBeforeInit) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = MadeProc;
    wc.lpszClassName = "Made";
    ASSERT_NE(0, RegisterClassA(&wc));
    made.clear();
    DialogBytes d(WS_POPUP, 100, 50, "Order");
    d.Font(8, "MS Sans Serif");
    for (const char *name : {"first", "second", "third"})
        d.Item(WS_VISIBLE, 0, 0, 10, 10, 1, Str("Made"), Str(name));
    size_t madeAtInit = 0;
    onInit() = [&](HWND dlg) {
        madeAtInit = made.size();
        EndDialog(dlg, 1);
    };
    EXPECT_EQ(1, Run(d));
    EXPECT_EQ((std::vector<std::string>{"first", "second", "third"}), made);
    EXPECT_EQ(3u, madeAtInit);
    ASSERT_EQ(2u, heard().size());
    EXPECT_EQ((UINT)WM_SETFONT, heard()[0].message) << "the font comes before the controls";
    EXPECT_EQ((UINT)WM_INITDIALOG, heard()[1].message);
}

TEST_F(LayerDialogTest, GeometryIsInTheFontsDialogUnits) {
    struct Case {
        const char *face;
        WORD points;
        int baseX, baseY;
    } cases[] = {{"MS Sans Serif", 8, 6, 13}, {"System", 8, 8, 16}, {"MS Sans Serif", 12, 9, 20}, {nullptr, 0, 8, 16}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.face ? c.face : "no font");
        DialogBytes d(WS_POPUP, 200, 120, "Units");
        d.At(10, 10);
        if (c.face) d.Font(c.points, c.face);
        d.Item(WS_VISIBLE | WS_BORDER, 50, 5, 60, 12, kName, resbuild::EditAtom(), Str(""));
        onInit() = [&](HWND dlg) {
            RECT units = {0, 0, 4, 8};
            EXPECT_TRUE(MapDialogRect(dlg, &units));
            EXPECT_EQ(c.baseX, units.right);
            EXPECT_EQ(c.baseY, units.bottom);
            // The layer's windows have no frame: the window is the client area.
            RECT r;
            GetWindowRect(dlg, &r);
            EXPECT_EQ(Scale(10, c.baseX, 4), r.left);
            EXPECT_EQ(Scale(10, c.baseY, 8), r.top);
            EXPECT_EQ(Scale(200, c.baseX, 4), r.right - r.left);
            EXPECT_EQ(Scale(120, c.baseY, 8), r.bottom - r.top);
            RECT e;
            GetWindowRect(GetDlgItem(dlg, kName), &e);
            EXPECT_EQ(r.left + Scale(50, c.baseX, 4), e.left);
            EXPECT_EQ(r.top + Scale(5, c.baseY, 8), e.top);
            EXPECT_EQ(Scale(60, c.baseX, 4), e.right - e.left);
            EXPECT_EQ(Scale(12, c.baseY, 8), e.bottom - e.top);
            // The border became a sunken edge two pixels wide.
            RECT client;
            GetClientRect(GetDlgItem(dlg, kName), &client);
            EXPECT_EQ(e.right - e.left - 4, client.right);
            EndDialog(dlg, 0);
        };
        Run(d);
    }
}

TEST_F(LayerDialogTest, PositionFollowsTheOwnerOrTheCentreAndStaysOnTheScreen) {
    RegisterLogging("Owner");
    HWND owner = MakeWindow("Owner", WS_POPUP | WS_VISIBLE, 100, 50, 300, 200);
    RECT r = {};
    onInit() = [&](HWND dlg) {
        GetWindowRect(dlg, &r);
        EndDialog(dlg, 0);
    };
    Run(DialogBytes(WS_POPUP, 40, 16, "").At(8, 8), owner);
    EXPECT_EQ(100 + 16, r.left) << "from the owner's client area";
    EXPECT_EQ(50 + 16, r.top);
    Run(DialogBytes(WS_POPUP | DS_ABSALIGN, 40, 16, "").At(8, 8), owner);
    EXPECT_EQ(16, r.left) << "DS_ABSALIGN: from the screen";
    Run(DialogBytes(WS_POPUP | DS_CENTER, 40, 16, "").At(8, 8), owner);
    EXPECT_EQ((640 - 80) / 2, r.left);
    EXPECT_EQ((480 - 32) / 2, r.top);
    Run(DialogBytes(WS_POPUP, 40, 16, "").At(500, -30));
    EXPECT_EQ(640 - 80, r.left) << "moved back onto the screen";
    EXPECT_EQ(640, r.right);
    EXPECT_EQ(0, r.top);
}

// ---- WM_INITDIALOG, focus and the owner ------------------------------------------------

TEST_F(LayerDialogTest, InitDialogGetsTheFirstTabStopAndTheParameter) {
    HWND wParamFocus = nullptr;
    LPARAM param = 0;
    onInit() = [&](HWND dlg) {
        wParamFocus = (HWND)heard().back().wParam;
        param = heard().back().lParam;
        EXPECT_EQ(GetDlgItem(dlg, kName), wParamFocus);
        SetDlgItemTextA(dlg, kName, "preset");
    };
    DialogScript script({[&] {
        EXPECT_EQ(kName, FocusId()) << "returning TRUE gives the first tab stop the focus";
        EXPECT_EQ(MAKELONG(0, 6), SendMessageA(Item(kName), EM_GETSEL, 0, 0)) << "with its text selected";
        EXPECT_TRUE(IsWindowVisible(layer::ActiveDialog())) << "shown once it has nothing to do";
        EndDialog(layer::ActiveDialog(), 4);
    }});
    EXPECT_EQ(4, Run(Form(), nullptr, 0x5EED));
    EXPECT_EQ(0x5EED, param);
    EXPECT_TRUE(script.AllRun());

    initResult() = FALSE;
    onInit() = nullptr;
    DialogScript untouched({[&] {
        EXPECT_EQ(nullptr, GetFocus()) << "returning FALSE leaves the focus alone";
        EndDialog(layer::ActiveDialog(), 5);
    }});
    EXPECT_EQ(5, Run(Form()));
}

TEST_F(LayerDialogTest, EndDialogInInitDialogEndsBeforeTheDialogIsSeen) {
    bool shown = false;
    onInit() = [&](HWND dlg) { EndDialog(dlg, 77); };
    DialogScript script({[&] { shown = true; }});
    EXPECT_EQ(77, Run(Form()));
    EXPECT_FALSE(shown) << "the loop never waited";
    EXPECT_EQ(nullptr, layer::ActiveDialog());
}

TEST_F(LayerDialogTest, TheOwnerIsDisabledWhileTheDialogLivesAndGetsTheActivationBack) {
    RegisterLogging("Owner");
    HWND owner = MakeWindow("Owner", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100);
    ASSERT_EQ(owner, GetActiveWindow());
    DialogScript script({[&] {
        EXPECT_FALSE(IsWindowEnabled(owner));
        EXPECT_EQ(layer::ActiveDialog(), GetActiveWindow());
        EXPECT_EQ(owner, (HWND)GetWindowLongPtrA(layer::ActiveDialog(), GWLP_HWNDPARENT));
        layer::ClickControl(Item(IDOK));
    }});
    EXPECT_EQ(IDOK, Run(Form(), owner));
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(owner, GetActiveWindow());

    // An owner the program had disabled stays disabled.
    EnableWindow(owner, FALSE);
    DialogScript again({[&] { Key(VK_ESCAPE); }});
    EXPECT_EQ(IDCANCEL, Run(Form(), owner));
    EXPECT_FALSE(IsWindowEnabled(owner));
}

TEST_F(LayerDialogTest, NestedDialogsStackAndTheFocusComesBack) {
    HWND outer = nullptr;
    DialogScript script({
        [&] {
            outer = layer::ActiveDialog();
            SetFocus(GetDlgItem(outer, kCheck));
            // About opens a second dialog over the first.
            endOnButtons() = false;
            layer::ClickControl(Item(kAbout));
        },
        [&] {
            HWND inner = layer::ActiveDialog();
            ASSERT_NE(outer, inner);
            EXPECT_FALSE(IsWindowEnabled(outer));
            endOnButtons() = true;
            Key(VK_RETURN);
        },
        [&] {
            EXPECT_EQ(outer, layer::ActiveDialog());
            EXPECT_TRUE(IsWindowEnabled(outer));
            EXPECT_EQ(GetDlgItem(outer, kAbout), GetFocus()) << "the button that opened it has the focus again";
            Key(VK_ESCAPE);
        },
    });
    INT_PTR innerResult = -9;
    onInit() = nullptr;
    // The outer dialog's About click opens the inner one from its procedure.
    static INT_PTR *innerOut;
    innerOut = &innerResult;
    struct Nest {
        static INT_PTR CALLBACK Proc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
            if (msg == WM_COMMAND && wParam == MAKEWPARAM(kAbout, BN_CLICKED) && !endOnButtons()) {
                std::vector<uint8_t> bytes = Form().Bytes();
                *innerOut = DialogBoxIndirectParamA(nullptr, (LPCDLGTEMPLATEA)bytes.data(), dlg,
                                                    LayerDialogTest::Proc, 0);
                return TRUE;
            }
            return LayerDialogTest::Proc(dlg, msg, wParam, lParam);
        }
    };
    std::vector<uint8_t> bytes = Form().Bytes();
    EXPECT_EQ(IDCANCEL,
              DialogBoxIndirectParamA(nullptr, (LPCDLGTEMPLATEA)bytes.data(), nullptr, Nest::Proc, 0));
    EXPECT_EQ(IDOK, innerResult);
    EXPECT_TRUE(script.AllRun());
}

// ---- keys in the dialog's loop ------------------------------------------------------------

TEST_F(LayerDialogTest, TabWalksTheTabStopsSkippingDisabledOnesAndWraps) {
    std::vector<int> forward, backward;
    DialogScript script({
        [&] {
            for (int i = 0; i < 8; ++i) Key(VK_TAB);
        },
        [&] {
            // Each Tab was handled in turn; only the end is left to see.
            forward.push_back(FocusId());
            ShiftTab();
        },
        [&] {
            backward.push_back(FocusId());
            ShiftTab();
            ShiftTab();
        },
        [&] {
            backward.push_back(FocusId());
            EndDialog(layer::ActiveDialog(), 0);
        },
    });
    Run(Form());
    // kName, kNumber, kCheck, kSlider, OK, Cancel, About, kName, kNumber.
    EXPECT_EQ((std::vector<int>{kNumber}), forward);
    EXPECT_EQ((std::vector<int>{kName, IDCANCEL}), backward);
}

TEST_F(LayerDialogTest, EnterPressesTheDefaultButtonOrTheFocusedOne) {
    size_t mark = 0;
    DialogScript script({
        [&] {
            endOnButtons() = false;
            Key(VK_RETURN);  // in the name box
        },
        [&] {
            auto commands = Commands();
            ASSERT_FALSE(commands.empty());
            EXPECT_EQ(std::make_pair((int)IDOK, (int)BN_CLICKED), commands.back());
            EXPECT_EQ((LPARAM)Item(IDOK), heard().back().lParam);
            // Tabbing onto Cancel makes it the button Enter presses.
            SendMessageA(layer::ActiveDialog(), WM_NEXTDLGCTL, (WPARAM)Item(IDCANCEL), TRUE);
            EXPECT_EQ(BS_DEFPUSHBUTTON, GetWindowLongA(Item(IDCANCEL), GWL_STYLE) & BS_TYPEMASK);
            EXPECT_EQ(BS_PUSHBUTTON, GetWindowLongA(Item(IDOK), GWL_STYLE) & BS_TYPEMASK);
            mark = heard().size();
            Key(VK_RETURN);
        },
        [&] {
            EXPECT_EQ((std::vector<std::pair<int, int>>{{IDCANCEL, BN_CLICKED}}), Commands(mark));
            // Leaving the buttons gives OK its look back.
            SendMessageA(layer::ActiveDialog(), WM_NEXTDLGCTL, (WPARAM)Item(kCheck), TRUE);
            EXPECT_EQ(BS_DEFPUSHBUTTON, GetWindowLongA(Item(IDOK), GWL_STYLE) & BS_TYPEMASK);
            // A disabled default button is not pressed.
            EnableWindow(Item(IDOK), FALSE);
            mark = heard().size();
            Key(VK_RETURN);
        },
        [&] {
            EXPECT_TRUE(Commands(mark).empty());
            EXPECT_EQ(MAKELONG(IDOK, DC_HASDEFID), SendMessageA(layer::ActiveDialog(), DM_GETDEFID, 0, 0));
            EndDialog(layer::ActiveDialog(), 1);
        },
    });
    Run(Form());
}

TEST_F(LayerDialogTest, EscapeAndTheCloseBoxAreCancel) {
    DialogScript escape({[] { Key(VK_ESCAPE); }});
    EXPECT_EQ(IDCANCEL, Run(Form()));
    DialogScript closeBox({[] { PostMessageA(layer::ActiveDialog(), WM_SYSCOMMAND, SC_CLOSE, 0); }});
    EXPECT_EQ(IDCANCEL, Run(Form()));
    DialogScript altF4({[] { Key(VK_F4, true); }});
    EXPECT_EQ(IDCANCEL, Run(Form()));
}

TEST_F(LayerDialogTest, MnemonicsPressButtonsAndLabelsPassTheFocusOn) {
    DialogScript script({
        [&] { Key('S', true); },
        [&] {
            EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(layer::ActiveDialog(), kCheck)) << "Alt+S";
            EXPECT_EQ(kCheck, FocusId());
            // On the check box, which takes no characters, a plain letter works too.
            Key('S');
        },
        [&] {
            EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(layer::ActiveDialog(), kCheck));
            // A disabled control's mnemonic does nothing; a label's moves on to the box after it.
            Key('L', true);
            Key('N', true);
        },
        [&] {
            EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(layer::ActiveDialog(), kLocked));
            EXPECT_EQ(kName, FocusId());
            // In a box that takes characters a letter is typed, not a mnemonic.
            Key('A');
        },
        [&] {
            EXPECT_EQ("a", Text(kName));
            Key('A', true);
        },
    });
    EXPECT_EQ(kAbout, Run(Form()));
    EXPECT_TRUE(script.AllRun());
}

TEST_F(LayerDialogTest, ArrowsMoveWithinAGroup) {
    std::vector<int> seen;
    DialogScript script({
        [&] {
            SetFocus(Item(IDOK));
            Key(VK_RIGHT);
        },
        [&] {
            seen.push_back(FocusId());
            Key(VK_DOWN);
            Key(VK_DOWN);
        },
        [&] {
            seen.push_back(FocusId());  // round the group
            Key(VK_UP);
        },
        [&] {
            seen.push_back(FocusId());
            EndDialog(layer::ActiveDialog(), 0);
        },
    });
    Run(Form());
    EXPECT_EQ((std::vector<int>{IDCANCEL, IDOK, kAbout}), seen);
}

TEST_F(LayerDialogTest, AMultilineBoxHandsEnterAndEscapeToTheDialog) {
    DialogScript script({
        [&] {
            layer::TypeText(Item(kNumber), "12");
            Key(VK_RETURN);
        },
    });
    EXPECT_EQ(IDOK, Run(Form())) << "Enter in the box is the default button";

    std::string text;
    DialogScript escape({[&] {
        layer::TypeText(Item(kNumber), "7");
        Key(VK_ESCAPE);
    }});
    EXPECT_EQ(IDCANCEL, Run(Form()));

    // A box that wants Enter keeps it as a new line.
    DialogBytes wants(WS_POPUP, 100, 60, "");
    wants.Item(WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_WANTRETURN, 0, 0, 80, 30, kNumber, resbuild::EditAtom(),
               Str(""));
    wants.Item(WS_VISIBLE | BS_DEFPUSHBUTTON, 0, 40, 40, 14, IDOK, resbuild::ButtonAtom(), Str("OK"));
    DialogScript newline({
        [&] { layer::TypeText(Item(kNumber), "a\rb"); },
        [&] {
            text = Text(kNumber);
            EndDialog(layer::ActiveDialog(), 3);
        },
    });
    EXPECT_EQ(3, Run(wants));
    EXPECT_EQ("a\r\nb", text);
}

// ---- typing and clicking ---------------------------------------------------------------------

TEST_F(LayerDialogTest, TypingChangesTheTextAndEachChangeIsAnnounced) {
    size_t mark = 0;
    DialogScript script({
        [&] {
            mark = heard().size();
            layer::TypeText(Item(kName), "Ab1!");
        },
        [&] {
            EXPECT_EQ("Ab1!", Text(kName));
            int changes = 0;
            for (auto [id, code] : Commands(mark)) changes += id == kName && code == EN_CHANGE;
            EXPECT_EQ(4, changes);
            layer::TypeText(Item(kName), "\b\b-");
        },
        [&] {
            EXPECT_EQ("Ab-", Text(kName));
            layer::SelectAllText(Item(kName));
            layer::TypeText(Item(kName), "new");
        },
        [&] {
            EXPECT_EQ("new", Text(kName)) << "typing replaces a selection";
            // The program's own text leaves the caret at the start.
            SetDlgItemTextA(layer::ActiveDialog(), kName, "xyz");
            EXPECT_EQ(MAKELONG(0, 0), SendMessageA(Item(kName), EM_GETSEL, 0, 0));
            layer::TypeText(Item(kName), "\b");
        },
        [&] {
            EXPECT_EQ("xyz", Text(kName)) << "Backspace at the start";
            EndDialog(layer::ActiveDialog(), 0);
        },
    });
    Run(Form());
    EXPECT_TRUE(script.AllRun());
}

TEST_F(LayerDialogTest, CheckBoxesToggleByClickAndTheParentHears) {
    size_t mark = 0;
    DialogScript script({
        [&] {
            mark = heard().size();
            layer::ClickControl(Item(kCheck));
        },
        [&] {
            EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(layer::ActiveDialog(), kCheck));
            EXPECT_EQ((std::vector<int>{BN_CLICKED}), CommandsOf(kCheck, mark));
            EXPECT_EQ(kCheck, FocusId()) << "a click gives the focus";
            // A second click at once arrives as a double click: it toggles again.
            layer::ClickControl(Item(kCheck));
        },
        [&] {
            EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(layer::ActiveDialog(), kCheck));
            // A disabled box takes no clicks; the space bar presses the focused one.
            layer::ClickControl(Item(kLocked));
            Key(VK_SPACE);
        },
        [&] {
            EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(layer::ActiveDialog(), kLocked));
            EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(layer::ActiveDialog(), kCheck));
            layer::ClickControl(Item(IDCANCEL));
        },
    });
    EXPECT_EQ(IDCANCEL, Run(Form()));
}

// ---- the trackbar in a dialog -------------------------------------------------------------------

TEST_F(LayerDialogTest, DraggingTheThumbTracksThenReportsWhereItEnded) {
    size_t mark = 0;
    std::vector<WPARAM> scrolls;
    onInit() = [](HWND dlg) { SendDlgItemMessageA(dlg, kSlider, TBM_SETRANGE, FALSE, MAKELPARAM(1, 200)); };
    DialogScript script({
        [&] {
            mark = heard().size();
            layer::DragTrackbar(Item(kSlider), 137);
            for (size_t i = mark; i < heard().size(); ++i) {
                if (heard()[i].message != WM_HSCROLL) continue;
                scrolls.push_back(heard()[i].wParam);
                EXPECT_EQ((LPARAM)Item(kSlider), heard()[i].lParam) << "the trackbar is in lParam";
            }
            EXPECT_EQ(137, SendMessageA(Item(kSlider), TBM_GETPOS, 0, 0));
            EXPECT_EQ(kSlider, FocusId());
            layer::DragTrackbar(Item(kSlider), 500);
        },
        [&] {
            EXPECT_EQ(200, SendMessageA(Item(kSlider), TBM_GETPOS, 0, 0)) << "dragged past the end";
            layer::DragTrackbar(Item(kSlider), -5);
            EXPECT_EQ(1, SendMessageA(Item(kSlider), TBM_GETPOS, 0, 0));
            EndDialog(layer::ActiveDialog(), 0);
        },
    });
    Run(Form());
    // Several moves, each a new position, then the release.
    ASSERT_GE(scrolls.size(), 4u);
    size_t tracks = scrolls.size() - 2;
    for (size_t i = 0; i < tracks; ++i) EXPECT_EQ(TB_THUMBTRACK, LOWORD(scrolls[i]));
    EXPECT_GE(tracks, 2u) << "the drag came in several moves";
    EXPECT_EQ(137, HIWORD(scrolls[tracks - 1]));
    EXPECT_EQ(MAKEWPARAM(TB_THUMBPOSITION, 137), scrolls[tracks]);
    EXPECT_EQ((WPARAM)TB_ENDTRACK, scrolls.back());
}

TEST_F(LayerDialogTest, KeysStepTheTrackbarAndEndEachMove) {
    size_t mark = 0;
    DialogScript script({
        [&] {
            SetFocus(Item(kSlider));
            SendMessageA(Item(kSlider), TBM_SETPOS, TRUE, 99);
            mark = heard().size();
            layer::InjectKey(VK_RIGHT, true);
            layer::InjectKey(VK_RIGHT, true);  // held: a repeat at the end says nothing
            layer::InjectKey(VK_RIGHT, false);
            Key(VK_PRIOR);
            Key(VK_LEFT);
            Key(VK_HOME);
            Key(VK_END);
            Key(VK_NEXT);
        },
        [&] {
            EXPECT_EQ((std::vector<int>{TB_LINEDOWN, TB_ENDTRACK, TB_PAGEUP, TB_ENDTRACK, TB_LINEUP, TB_ENDTRACK,
                                        TB_TOP, TB_ENDTRACK, TB_BOTTOM, TB_ENDTRACK, TB_ENDTRACK}),
                      Scrolls(mark));
            EXPECT_EQ(100, SendMessageA(Item(kSlider), TBM_GETPOS, 0, 0));
            // Tab leaves the trackbar; the arrows stay with it.
            Key(VK_TAB);
        },
        [&] {
            EXPECT_EQ(IDOK, FocusId());
            EndDialog(layer::ActiveDialog(), 0);
        },
    });
    Run(Form());
}

TEST_F(LayerDialogTest, HoldingThePointerOnTheChannelKeepsPaging) {
    size_t mark = 0;
    DialogScript script({
        [&] {
            HWND slider = Item(kSlider);
            SendMessageA(slider, TBM_SETPOS, TRUE, 0);
            RECT channel, thumb, window, client;
            SendMessageA(slider, TBM_GETCHANNELRECT, 0, (LPARAM)&channel);
            SendMessageA(slider, TBM_GETTHUMBRECT, 0, (LPARAM)&thumb);
            GetWindowRect(slider, &window);
            GetClientRect(slider, &client);
            int edge = (window.right - window.left - client.right) / 2;
            mark = heard().size();
            layer::InjectMouseMove(window.left + edge + channel.right - 2,
                                   window.top + edge + (thumb.top + thumb.bottom) / 2);
            layer::InjectButton(layer::Button::Left, true);
        },
        // While the button is held the page repeats as time passes: each
        // time the loop waits, the (virtual) clock moves to the next repeat.
        [&] { EXPECT_EQ(20, SendMessageA(Item(kSlider), TBM_GETPOS, 0, 0)) << "a page at the press"; },
        [&] { EXPECT_EQ(40, SendMessageA(Item(kSlider), TBM_GETPOS, 0, 0)); },
        [&] {
            EXPECT_EQ(60, SendMessageA(Item(kSlider), TBM_GETPOS, 0, 0));
            layer::InjectButton(layer::Button::Left, false);
        },
        [&] {
            EXPECT_EQ((std::vector<int>{TB_PAGEDOWN, TB_PAGEDOWN, TB_PAGEDOWN, TB_ENDTRACK}), Scrolls(mark));
            EndDialog(layer::ActiveDialog(), 0);
        },
    });
    Run(Form());
    EXPECT_TRUE(script.AllRun());
}

// ---- numbers --------------------------------------------------------------------------------------

TEST_F(LayerDialogTest, GetDlgItemIntReadsDecimalNumbersThatFit) {
    struct Case {
        const char *text;
        BOOL isSigned;
        UINT value;
        BOOL ok;
    } cases[] = {
        {"", TRUE, 0, FALSE},
        {"0", FALSE, 0, TRUE},
        {" \t 42", FALSE, 42, TRUE},
        {"+7", FALSE, 7, TRUE},
        {"12abc", TRUE, 12, TRUE},
        {"0x10", TRUE, 0, TRUE},
        {"abc", TRUE, 0, FALSE},
        {"-", TRUE, 0, FALSE},
        {"-5", TRUE, (UINT)-5, TRUE},
        {"-5", FALSE, 0, FALSE},  // no minus for an unsigned number
        {"-0", FALSE, 0, FALSE},
        {"2147483647", TRUE, 2147483647u, TRUE},
        {"2147483648", TRUE, 0, FALSE},
        {"-2147483648", TRUE, 0x80000000u, TRUE},
        {"-2147483649", TRUE, 0, FALSE},
        {"4294967295", FALSE, 4294967295u, TRUE},
        {"4294967296", FALSE, 0, FALSE},
        {"000000000000000000000000000000000012", FALSE, 12, TRUE},
        {"99999999999999999999999", FALSE, 0, FALSE},
    };
    onInit() = [&](HWND dlg) {
        for (const Case &c : cases) {
            for (int box : {kName, kNumber}) {
                SetDlgItemTextA(dlg, box, c.text);
                BOOL ok = 77;
                EXPECT_EQ(c.value, GetDlgItemInt(dlg, box, &ok, c.isSigned)) << "'" << c.text << "'";
                EXPECT_EQ(c.ok, ok) << "'" << c.text << "'";
                EXPECT_EQ(c.value, GetDlgItemInt(dlg, box, nullptr, c.isSigned));
            }
        }
        BOOL ok = 77;
        EXPECT_EQ(0u, GetDlgItemInt(dlg, 999, &ok, FALSE));
        EXPECT_FALSE(ok);
        EXPECT_FALSE(SetDlgItemInt(dlg, 999, 5, FALSE)) << "no such control: nothing was set";
        EXPECT_EQ((DWORD)ERROR_CONTROL_ID_NOT_FOUND, GetLastError());
        EXPECT_FALSE(CheckDlgButton(dlg, 999, BST_CHECKED));
        EndDialog(dlg, 0);
    };
    Run(Form());
}

// ---- failures -----------------------------------------------------------------------------------------

TEST_F(LayerDialogTest, TemplatesFromTheResourcesAndTheirFailures) {
    std::vector<uint8_t> res = resbuild::NewResFile();
    resbuild::AddRecord(res, resbuild::Ord(5), resbuild::Ord(500), Form().Bytes());
    std::vector<uint8_t> damaged = Form().Bytes();
    damaged.resize(damaged.size() / 2);
    resbuild::AddRecord(res, resbuild::Ord(5), resbuild::Ord(501), damaged);
    layer::UseResources(res);
    RegisterLogging("Owner");
    HWND owner = MakeWindow("Owner", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100);
    HINSTANCE self = GetModuleHandleA(nullptr);

    DialogScript script({[] { Key(VK_RETURN); }});
    EXPECT_EQ(IDOK, DialogBoxParamA(self, MAKEINTRESOURCEA(500), owner, Proc, 0));

    SetLastError(0);
    EXPECT_EQ(-1, DialogBoxParamA(self, MAKEINTRESOURCEA(502), owner, Proc, 0));
    EXPECT_EQ((DWORD)ERROR_RESOURCE_NAME_NOT_FOUND, GetLastError());
    SetLastError(0);
    EXPECT_EQ(-1, DialogBoxParamA(self, MAKEINTRESOURCEA(501), owner, Proc, 0)) << "a damaged template";
    EXPECT_EQ((DWORD)ERROR_INVALID_DATA, GetLastError());
    EXPECT_TRUE(IsWindowEnabled(owner));

    HWND gone = MakeWindow("Owner", WS_POPUP, 0, 0, 10, 10);
    DestroyWindow(gone);
    SetLastError(0);
    EXPECT_EQ(0, DialogBoxParamA(self, MAKEINTRESOURCEA(500), gone, Proc, 0)) << "an owner that is no window";
    EXPECT_EQ((DWORD)ERROR_INVALID_WINDOW_HANDLE, GetLastError());

    // Every call is on record, made or refused.
    auto requests = layer::DialogRequests();
    ASSERT_EQ(4u, requests.size());
    EXPECT_EQ("#500", requests[0].templateName);
    EXPECT_EQ(owner, requests[0].owner);
    EXPECT_EQ(gone, requests[3].owner);

    layer::UseResources({});
    SetLastError(0);
    EXPECT_EQ(-1, DialogBoxParamA(self, MAKEINTRESOURCEA(500), nullptr, Proc, 0));
    EXPECT_EQ((DWORD)ERROR_RESOURCE_DATA_NOT_FOUND, GetLastError()) << "a program without resources";
}

TEST_F(LayerDialogTest, AControlThatCannotBeMadeFailsTheDialogUnlessToldOtherwise) {
    RegisterLogging("Owner");
    HWND owner = MakeWindow("Owner", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100);
    DialogBytes d(WS_POPUP, 100, 50, "");
    d.Item(WS_VISIBLE, 0, 0, 10, 10, kName, resbuild::EditAtom(), Str(""));
    d.Item(WS_VISIBLE, 0, 0, 10, 10, 7, Str("NoSuchClass"), Str(""));
    SetLastError(0);
    EXPECT_EQ(-1, Run(d, owner));
    EXPECT_EQ((DWORD)ERROR_CANNOT_FIND_WND_CLASS, GetLastError());
    EXPECT_TRUE(IsWindowEnabled(owner));
    EXPECT_EQ(nullptr, FindWindowA("#32770", nullptr)) << "nothing is left behind";

    DialogBytes lenient(WS_POPUP | DS_NOFAILCREATE, 100, 50, "");
    lenient.Item(WS_VISIBLE, 0, 0, 10, 10, kName, resbuild::EditAtom(), Str(""));
    lenient.Item(WS_VISIBLE, 0, 0, 10, 10, 7, Str("NoSuchClass"), Str(""));
    onInit() = [](HWND dlg) {
        EXPECT_NE(nullptr, GetDlgItem(dlg, kName));
        EXPECT_EQ(nullptr, GetDlgItem(dlg, 7));
        EndDialog(dlg, 2);
    };
    EXPECT_EQ(2, Run(lenient, owner));
}

TEST_F(LayerDialogTest, ADialogOfItsOwnClassRunsAndLeavesNothingBehind) {
    // A class of the program's whose procedure never calls DefDlgProcA: the
    // dialog still runs, ends, and its font still goes.
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.lpszClassName = "OwnDialog";
    ASSERT_NE(0, RegisterClassA(&wc));
    int before = layer::LiveGdiObjects();
    DialogBytes d(WS_POPUP, 100, 50, "own");
    d.Class(resbuild::Named("OwnDialog")).Font(8, "MS Sans Serif");
    d.Item(WS_VISIBLE | WS_TABSTOP, 0, 0, 40, 12, kName, resbuild::EditAtom(), Str(""));
    DialogScript script({[&] {
        EXPECT_EQ(before + 1, layer::LiveGdiObjects()) << "the font lives as long as the dialog";
        EndDialog(layer::ActiveDialog(), 8);
    }});
    EXPECT_EQ(8, Run(d));
    EXPECT_EQ(before, layer::LiveGdiObjects());
}

TEST_F(LayerDialogTest, ADialogEndedOtherwiseReturnsZeroAndEndDialogWantsADialog) {
    // Destroyed under its loop.
    DialogScript destroyed({[] { DestroyWindow(layer::ActiveDialog()); }});
    EXPECT_EQ(0, Run(Form()));
    EXPECT_EQ(nullptr, layer::ActiveDialog());

    // A quit message ends the loop and is left for the loop outside.
    DialogScript quit({[] { PostQuitMessage(3); }});
    EXPECT_EQ(0, Run(Form()));
    MSG m = {};
    while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE) && m.message != WM_QUIT) {
    }
    EXPECT_EQ((UINT)WM_QUIT, m.message);
    EXPECT_EQ(3u, m.wParam);

    // Destroyed in WM_INITDIALOG: the dialog never was.
    onInit() = [](HWND dlg) { DestroyWindow(dlg); };
    EXPECT_EQ(-1, Run(Form()));

    RegisterLogging("Plain");
    HWND plain = MakeWindow("Plain", WS_POPUP, 0, 0, 10, 10);
    SetLastError(0);
    EXPECT_FALSE(EndDialog(plain, 1));
    EXPECT_EQ((DWORD)ERROR_INVALID_WINDOW_HANDLE, GetLastError());
    EXPECT_FALSE(EndDialog(nullptr, 1));
}

}  // namespace
