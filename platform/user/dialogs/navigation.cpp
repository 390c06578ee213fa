// The keyboard in a dialog: IsDialogMessageA (Tab and Shift+Tab, the
// arrows within a group, Enter, Escape, mnemonics), and the tab and group
// order it walks. Controls are the dialog's direct children, in creation
// order, which is their z-order; controls inside other controls are not
// walked into.
#include <cctype>

#include "user/controls/controls.h"

namespace layer {

namespace {

std::vector<HWND> Controls(HWND dlg) {
    Window *w = FindWindowRecord(dlg);
    return w ? w->children : std::vector<HWND>();
}

DWORD StyleOf(HWND hwnd) {
    Window *w = FindWindowRecord(hwnd);
    return w ? w->style : 0;
}

// Visible and enabled by its own style, as the dialog manager asks.
bool Usable(HWND hwnd) { return (StyleOf(hwnd) & (WS_VISIBLE | WS_DISABLED)) == WS_VISIBLE; }

int IndexOf(const std::vector<HWND> &controls, HWND hwnd) {
    for (size_t i = 0; i < controls.size(); ++i)
        if (controls[i] == hwnd) return (int)i;
    return -1;
}

HWND ChildWithId(HWND dlg, int id) {
    for (HWND child : Controls(dlg)) {
        Window *c = FindWindowRecord(child);
        if (c && c->id == (LONG_PTR)id) return child;
    }
    return nullptr;
}

LRESULT DialogCode(HWND hwnd, const MSG *msg = nullptr) {
    return SendMessageA(hwnd, WM_GETDLGCODE, msg ? msg->wParam : 0, (LPARAM)msg);
}

// The character after the first single '&' of a caption ("&&" is a plain
// ampersand), or 0.
char MnemonicOf(const std::string &caption) {
    for (size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&') continue;
        if (caption[i + 1] == '&') {
            ++i;
            continue;
        }
        return caption[i + 1];
    }
    return 0;
}

// A mnemonic reaches the first control, from the one with the focus on and
// round again, whose caption underlines that letter: a button is clicked,
// a label or group box passes the focus to the control after it.
bool PressMnemonic(HWND from, HWND dlg, WPARAM key) {
    std::vector<HWND> controls = Controls(dlg);
    int n = (int)controls.size();
    if (n == 0) return false;
    int start = IndexOf(controls, from);
    if (start < 0) start = 0;
    int wanted = std::toupper((unsigned char)key);
    for (int k = 0; k < n; ++k) {
        HWND control = controls[(size_t)((start + k) % n)];
        if (!FindWindowRecord(control) || !Usable(control)) continue;
        LRESULT code = DialogCode(control);
        if (!(code & (DLGC_BUTTON | DLGC_STATIC))) continue;
        Window *w = FindWindowRecord(control);
        // A label that shows its ampersands as they are has no mnemonic.
        bool literal = ControlOf(control, ControlKind::Static) && (StyleOf(control) & SS_NOPREFIX);
        char mnemonic = w && !literal ? MnemonicOf(w->title) : 0;
        if (!mnemonic || std::toupper((unsigned char)mnemonic) != wanted) continue;
        if ((code & DLGC_STATIC) || (StyleOf(control) & BS_TYPEMASK) == BS_GROUPBOX) {
            SendMessageA(dlg, WM_NEXTDLGCTL, (WPARAM)control, TRUE);
            SendMessageA(dlg, WM_NEXTDLGCTL, 0, FALSE);
        } else {
            SendMessageA(control, BM_CLICK, 0, 0);
        }
        return true;
    }
    return false;
}

void PressEnter(HWND dlg) {
    HWND focus = GetFocus();
    if (focus && IsChildOf(dlg, focus) && (DialogCode(focus) & DLGC_DEFPUSHBUTTON)) {
        SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(focus), BN_CLICKED), (LPARAM)focus);
        return;
    }
    LRESULT defId = SendMessageA(dlg, DM_GETDEFID, 0, 0);
    if (HIWORD(defId) == DC_HASDEFID) {
        // A disabled default button is not pressed by Enter.
        HWND button = ChildWithId(dlg, LOWORD(defId));
        if (!button || IsWindowEnabled(button))
            SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(LOWORD(defId), BN_CLICKED), (LPARAM)button);
        return;
    }
    SendMessageA(dlg, WM_COMMAND, IDOK, (LPARAM)ChildWithId(dlg, IDOK));
}

void PressArrow(HWND dlg, const MSG *msg) {
    bool previous = msg->wParam == VK_LEFT || msg->wParam == VK_UP;
    HWND next = GetNextDlgGroupItem(dlg, msg->hwnd, previous);
    if (next && DialogCode(next, msg) == (DLGC_BUTTON | DLGC_RADIOBUTTON)) {
        SetFocus(next);
        if ((StyleOf(next) & BS_TYPEMASK) == BS_AUTORADIOBUTTON &&
            SendMessageA(next, BM_GETCHECK, 0, 0) != BST_CHECKED)
            SendMessageA(next, BM_CLICK, 1, 0);
        return;
    }
    SendMessageA(dlg, WM_NEXTDLGCTL, (WPARAM)next, TRUE);
}

}  // namespace

}  // namespace layer

using namespace layer;

extern "C" {

HWND WINAPI GetNextDlgTabItem(HWND hDlg, HWND hCtl, BOOL bPrevious) {
    EnsureStarted();
    if (hCtl == hDlg) hCtl = nullptr;
    if (!hCtl && bPrevious) return nullptr;
    std::vector<HWND> controls = Controls(hDlg);
    int n = (int)controls.size();
    auto tabStop = [](HWND h) { return FindWindowRecord(h) && Usable(h) && (StyleOf(h) & WS_TABSTOP); };
    int at = hCtl ? IndexOf(controls, hCtl) : -1;
    if (at < 0) {
        // From the start (or the end, going back) when there is no control to go on from.
        for (int k = 0; k < n; ++k) {
            HWND h = controls[(size_t)(bPrevious ? n - 1 - k : k)];
            if (tabStop(h)) return h;
        }
        return hCtl;
    }
    for (int k = 1; k <= n; ++k) {
        HWND h = controls[(size_t)((at + (bPrevious ? n - k : k)) % n)];
        if (tabStop(h)) return h;
    }
    return hCtl;
}

HWND WINAPI GetNextDlgGroupItem(HWND hDlg, HWND hCtl, BOOL bPrevious) {
    EnsureStarted();
    if (hCtl == hDlg) hCtl = nullptr;
    if (!hCtl && bPrevious) return nullptr;
    std::vector<HWND> controls = Controls(hDlg);
    int n = (int)controls.size();
    if (n == 0) return nullptr;
    if (!hCtl) {
        hCtl = controls[0];
        if (Usable(hCtl)) return hCtl;
    }
    int at = IndexOf(controls, hCtl);
    if (at < 0) return nullptr;
    // Groups run from a WS_GROUP control to the next one, round the end of
    // the dialog to its start; without any WS_GROUP all controls are one.
    int start = 0;
    bool grouped = false;
    for (int k = 0; k < n; ++k) {
        int j = (at - k + n) % n;
        if (StyleOf(controls[(size_t)j]) & WS_GROUP) {
            start = j;
            grouped = true;
            break;
        }
    }
    std::vector<int> members = {start};
    for (int k = 1; k < n; ++k) {
        int j = (start + k) % n;
        if (grouped && (StyleOf(controls[(size_t)j]) & WS_GROUP)) break;
        members.push_back(j);
    }
    int m = (int)members.size(), here = 0;
    for (int i = 0; i < m; ++i)
        if (members[(size_t)i] == at) here = i;
    for (int k = 1; k < m; ++k) {
        HWND h = controls[(size_t)members[(size_t)((here + (bPrevious ? m - k : k)) % m)]];
        if (Usable(h)) return h;
    }
    return hCtl;
}

BOOL WINAPI IsDialogMessageA(HWND hDlg, LPMSG lpMsg) {
    EnsureStarted();
    if (!lpMsg || !FindWindowRecord(hDlg)) return FALSE;
    if (lpMsg->hwnd != hDlg && !IsChildOf(hDlg, lpMsg->hwnd)) return FALSE;
    switch (lpMsg->message) {
    case WM_KEYDOWN: {
        LRESULT code = DialogCode(lpMsg->hwnd, lpMsg);
        if (code & DLGC_WANTMESSAGE) break;
        switch (lpMsg->wParam) {
        case VK_TAB:
            if (code & DLGC_WANTTAB) break;
            SendMessageA(hDlg, WM_NEXTDLGCTL, (GetKeyState(VK_SHIFT) & 0x8000) ? 1 : 0, 0);
            return TRUE;
        case VK_LEFT:
        case VK_RIGHT:
        case VK_UP:
        case VK_DOWN:
            if (code & DLGC_WANTARROWS) break;
            PressArrow(hDlg, lpMsg);
            return TRUE;
        case VK_CANCEL:
        case VK_ESCAPE:
            SendMessageA(hDlg, WM_COMMAND, IDCANCEL, (LPARAM)ChildWithId(hDlg, IDCANCEL));
            return TRUE;
        case VK_EXECUTE:
        case VK_RETURN:
            PressEnter(hDlg);
            return TRUE;
        }
        break;
    }
    case WM_CHAR: {
        // A control that takes characters gets them; for the others a
        // plain letter works as its mnemonic, as Alt with it does.
        LRESULT code = DialogCode(lpMsg->hwnd, lpMsg);
        if (code & (DLGC_WANTCHARS | DLGC_WANTMESSAGE)) break;
        if (lpMsg->wParam == '\t' && (code & DLGC_WANTTAB)) break;
        if (PressMnemonic(lpMsg->hwnd, hDlg, lpMsg->wParam)) return TRUE;
        break;
    }
    case WM_SYSCHAR:
        if (PressMnemonic(lpMsg->hwnd, hDlg, lpMsg->wParam)) return TRUE;
        break;
    }
    TranslateMessage(lpMsg);
    DispatchMessageA(lpMsg);
    return TRUE;
}

}  // extern "C"
