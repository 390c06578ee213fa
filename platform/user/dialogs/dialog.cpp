// Modal dialog boxes: a template made into a dialog window and its
// controls, WM_SETFONT and WM_INITDIALOG, the modal loop, EndDialog, the
// dialog window's default procedure and the dialog item functions. Message
// boxes are in user/msgbox.cpp.
//
// The dialog's DLGPROC and message result live in the window's extra bytes
// at DWLP_DLGPROC and DWLP_MSGRESULT, as the program may read or set them;
// the rest of the dialog manager's record is DialogState (user/controls/controls.h).
#include <layer_hooks.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "user/controls/controls.h"
#include "user/dialogs/template.h"
#include "kernel/resource.h"

namespace layer {

namespace {

// DialogBoxIndirectParamA gets a pointer and no size; a template is read no
// further than this, however damaged it is.
constexpr size_t kIndirectTemplateLimit = 1 << 20;

constexpr UINT kCtlColor = 0x0019;
constexpr UINT kVKeyToItem = 0x002E;
constexpr UINT kCharToItem = 0x002F;
constexpr UINT kQueryDragIcon = 0x0037;
constexpr UINT kCompareItem = 0x0039;
constexpr UINT kCtlColorFirst = 0x0132;  // WM_CTLCOLORMSGBOX
constexpr UINT kCtlColorLast = 0x0138;   // WM_CTLCOLORSTATIC

bool HasDialogExtra(const Window *w) { return w->extra.size() >= DWLP_DLGPROC + sizeof(DLGPROC); }

LRESULT ReadExtra(const Window *w, size_t offset) {
    LRESULT v = 0;
    std::memcpy(&v, w->extra.data() + offset, sizeof v);
    return v;
}

void WriteExtra(Window *w, size_t offset, LRESULT v) { std::memcpy(w->extra.data() + offset, &v, sizeof v); }

DLGPROC DialogProcOf(HWND hwnd) {
    Window *w = FindWindowRecord(hwnd);
    if (!w || !HasDialogExtra(w)) return nullptr;
    return (DLGPROC)ReadExtra(w, DWLP_DLGPROC);
}

void SetDialogProc(HWND hwnd, DLGPROC proc) {
    Window *w = FindWindowRecord(hwnd);
    if (w && HasDialogExtra(w)) WriteExtra(w, DWLP_DLGPROC, (LRESULT)proc);
}

std::shared_ptr<DialogState> EnsureDialog(HWND hwnd) {
    Window *w = FindWindowRecord(hwnd);
    if (!w) return nullptr;
    if (!w->dialog) w->dialog = std::make_shared<DialogState>();
    return w->dialog;
}

// A direct child by identifier, without touching the last error.
HWND ChildById(HWND dlg, int id) {
    Window *w = FindWindowRecord(dlg);
    if (!w) return nullptr;
    for (HWND child : w->children) {
        Window *c = FindWindowRecord(child);
        if (c && c->id == (LONG_PTR)id) return child;
    }
    return nullptr;
}

LRESULT DialogCode(HWND hwnd) { return SendMessageA(hwnd, WM_GETDLGCODE, 0, 0); }

// Focus that arrives by the dialog manager selects an edit's whole text.
void SetFocusSelectingAll(HWND control) {
    if (DialogCode(control) & DLGC_HASSETSEL) SendMessageA(control, EM_SETSEL, 0, -1);
    SetFocus(control);
}

void SaveFocus(HWND dlg) {
    HWND focus = GetFocus();
    DialogState *d = DialogOf(dlg);
    if (!d || !focus || !IsChildOf(dlg, focus)) return;
    d->savedFocus = focus;
}

void RestoreFocus(HWND dlg, bool justActivated) {
    DialogState *d = DialogOf(dlg);
    if (!d || d->ended) return;
    HWND focus = d->savedFocus;
    if (!focus || !IsChildOf(dlg, focus)) {
        if (justActivated) return;
        focus = GetNextDlgTabItem(dlg, nullptr, FALSE);
        if (!focus) focus = GetNextDlgGroupItem(dlg, nullptr, FALSE);
        if (!focus) return;
    }
    if (justActivated)
        SetFocus(focus);
    else
        SetFocusSelectingAll(focus);
    if ((d = DialogOf(dlg))) d->savedFocus = nullptr;
}

HWND FindDefaultButton(HWND dlg) {
    Window *w = FindWindowRecord(dlg);
    if (!w) return nullptr;
    std::vector<HWND> children = w->children;
    for (HWND child : children)
        if (FindWindowRecord(child) && (DialogCode(child) & DLGC_DEFPUSHBUTTON)) return child;
    return nullptr;
}

// Drawing follows the focus: the focused push button looks like the
// default, and when the focus leaves the push buttons the real default
// looks like it again. Which button Enter presses is DM_GETDEFID's answer.
void ShowDefaultButton(HWND dlg, DialogState *d, HWND wanted) {
    HWND current = ChildById(dlg, (int)d->defaultId);
    LRESULT code = 0;
    if (wanted && !((code = DialogCode(wanted)) & (DLGC_UNDEFPUSHBUTTON | DLGC_DEFPUSHBUTTON))) {
        wanted = current;
        code = wanted ? DialogCode(wanted) : 0;
    }
    if (!current || !(DialogCode(current) & DLGC_DEFPUSHBUTTON)) current = FindDefaultButton(dlg);
    if (current && current != wanted) SendMessageA(current, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    if (wanted && (code & DLGC_UNDEFPUSHBUTTON)) SendMessageA(wanted, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

void SetDefaultId(HWND dlg, DialogState *d, UINT id) {
    HWND wanted = ChildById(dlg, (int)id);
    UINT previousId = d->defaultId;
    d->defaultId = id;
    LRESULT code = 0;
    if (wanted && !((code = DialogCode(wanted)) & (DLGC_UNDEFPUSHBUTTON | DLGC_BUTTON))) return;
    HWND previous = ChildById(dlg, (int)previousId);
    if (!previous || !(DialogCode(previous) & DLGC_DEFPUSHBUTTON)) previous = FindDefaultButton(dlg);
    if (previous && previous != wanted) SendMessageA(previous, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    if (wanted && (code & DLGC_UNDEFPUSHBUTTON)) SendMessageA(wanted, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

// What DefDlgProc does with a message the dialog procedure left alone.
LRESULT DefaultDialogMessage(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    DialogState *d = DialogOf(dlg);
    switch (msg) {
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(dlg, &r);
        FillRect((HDC)wParam, &r, (HBRUSH)(COLOR_BTNFACE + 1));
        return 1;
    }
    case WM_SHOWWINDOW:
        if (!wParam) SaveFocus(dlg);
        return DefWindowProcA(dlg, msg, wParam, lParam);
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE)
            RestoreFocus(dlg, true);
        else
            SaveFocus(dlg);
        return 0;
    case WM_SETFOCUS:
        RestoreFocus(dlg, false);
        return 0;
    case DM_SETDEFID:
        if (d && !d->ended) SetDefaultId(dlg, d, (UINT)wParam);
        return 1;
    case DM_GETDEFID:
        if (d && !d->ended) {
            if (d->defaultId) return MAKELONG(d->defaultId, DC_HASDEFID);
            if (HWND button = FindDefaultButton(dlg)) return MAKELONG(GetDlgCtrlID(button), DC_HASDEFID);
        }
        return 0;
    case WM_NEXTDLGCTL: {
        HWND target = lParam ? (HWND)wParam : GetNextDlgTabItem(dlg, GetFocus(), wParam != 0);
        if (target) SetFocusSelectingAll(target);
        if ((d = DialogOf(dlg))) ShowDefaultButton(dlg, d, target);
        return 0;
    }
    case WM_GETFONT:
        return d ? (LRESULT)d->font : 0;
    case WM_CLOSE:
        // The close box and Alt+F4 are Cancel.
        PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)ChildById(dlg, IDCANCEL));
        return 0;
    case WM_NCDESTROY:
        if (d) {
            if (d->font) DeleteObject(d->font);
            d->font = nullptr;
            // A modal loop waiting for its next message learns at once.
            if (d->loopRunning) PostInternal(nullptr, WM_NULL, 0, 0);
        }
        return DefWindowProcA(dlg, msg, wParam, lParam);
    }
    return DefWindowProcA(dlg, msg, wParam, lParam);
}

bool ReturnsProcResult(UINT msg) {
    return (msg >= kCtlColorFirst && msg <= kCtlColorLast) || msg == kCtlColor || msg == kCompareItem ||
           msg == kVKeyToItem || msg == kCharToItem || msg == kQueryDragIcon || msg == WM_INITDIALOG;
}

// "#<n>" from the template parser names an atom.
LPCSTR ClassArgument(const std::string &name) {
    if (name.size() > 1 && name[0] == '#' && name.find_first_not_of("0123456789", 1) == std::string::npos) {
        unsigned long n = std::strtoul(name.c_str() + 1, nullptr, 10);
        if (n <= 0xFFFF) return MAKEINTATOM(n);
    }
    return name.c_str();
}

// Where a dialog goes: its template position in base units from the
// owner's client area (the screen's for DS_ABSALIGN or no owner), or the
// screen's centre, then moved to lie on the screen.
POINT DialogPosition(const DialogTemplate &t, DWORD style, HWND owner, int baseX, int baseY, int width,
                     int height) {
    State &s = S();
    if (t.x == (short)0x8000) return {CW_USEDEFAULT, CW_USEDEFAULT};
    POINT pos;
    if (style & DS_CENTER) {
        pos = {(s.screenWidth - width) / 2, (s.screenHeight - height) / 2};
    } else if (style & DS_CENTERMOUSE) {
        pos = {s.cursor.x - width / 2, s.cursor.y - height / 2};
    } else {
        pos = {MulDivRound(t.x, baseX, 4), MulDivRound(t.y, baseY, 8)};
        Window *o = owner ? FindWindowRecord(owner) : nullptr;
        if (o && !(style & (WS_CHILD | DS_ABSALIGN))) {
            POINT origin = ClientOrigin(o);
            pos.x += origin.x;
            pos.y += origin.y;
        }
    }
    if (!(style & WS_CHILD)) {
        if (pos.x + width > s.screenWidth) pos.x = s.screenWidth - width;
        if (pos.y + height > s.screenHeight) pos.y = s.screenHeight - height;
        if (pos.x < 0) pos.x = 0;
        if (pos.y < 0) pos.y = 0;
    }
    return pos;
}

// One control of the template, a child window of its class. The caption
// of an ordinal is passed as the system passes it: 0xFF and the WORD.
HWND CreateItem(HWND dlg, HINSTANCE instance, const DialogItemTemplate &item, int baseX, int baseY) {
    DWORD style = (item.style & ~WS_POPUP) | WS_CHILD;
    DWORD exStyle = item.exStyle | WS_EX_NOPARENTNOTIFY;
    // In a dialog a border is drawn as the sunken edge.
    if (style & WS_BORDER) {
        style &= ~WS_BORDER;
        exStyle |= WS_EX_CLIENTEDGE;
    }
    char ordinal[4] = {'\xFF', (char)(item.textOrdinal & 0xFF), (char)((item.textOrdinal >> 8) & 0xFF), 0};
    LPCSTR caption = item.textOrdinal >= 0 ? ordinal : item.text.c_str();
    // Creation data reaches the control as the system hands it over: a
    // pointer to the size WORD with the bytes after it.
    std::vector<uint8_t> data;
    if (!item.creationData.empty()) {
        size_t n = item.creationData.size();
        data = {(uint8_t)n, (uint8_t)(n >> 8)};
        data.insert(data.end(), item.creationData.begin(), item.creationData.end());
    }
    return CreateWindowExA(exStyle, ClassArgument(item.className), caption, style, MulDivRound(item.x, baseX, 4),
                           MulDivRound(item.y, baseY, 8), MulDivRound(item.cx, baseX, 4),
                           MulDivRound(item.cy, baseY, 8), dlg, (HMENU)(UINT_PTR)item.id, instance,
                           data.empty() ? nullptr : data.data());
}

// The dialog's font goes with the dialog; a window of another class than
// the dialog class may never have passed WM_NCDESTROY to DefDlgProcA.
void ReleaseFont(DialogState *d) {
    if (d->font) DeleteObject(d->font);
    d->font = nullptr;
}

void EnableOwnerAgain(DialogState *d) {
    HWND owner = d->disabledOwner;
    d->disabledOwner = nullptr;
    if (owner && IsWindow(owner)) EnableWindow(owner, TRUE);
}

// Makes the dialog window and its controls and runs WM_INITDIALOG. Null
// when anything fails; the owner is then as it was.
HWND CreateDialogWindow(HINSTANCE instance, const DialogTemplate &t, HWND owner, DLGPROC proc, LPARAM param) {
    int baseX = 8, baseY = 16;
    HFONT font = nullptr;
    if (t.style & DS_SETFONT) {
        // 0x7FFF asks for the message box font, which is measured as the default face.
        bool messageFont = t.pointSize == 0x7FFF;
        std::string face = messageFont ? "MS Sans Serif" : t.faceName;
        int points = messageFont ? 8 : t.pointSize;
        BaseUnitsForFont(face, points, &baseX, &baseY);
        // As the system makes it: the point size at 96 dots per inch, as the
        // height of the characters.
        font = CreateFontA(-MulDivRound(points, 96, 72), 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                           face.c_str());
    }

    DWORD style = t.style, exStyle = t.exStyle;
    if (style & DS_CONTROL) style &= ~(WS_CAPTION | WS_SYSMENU);
    style |= DS_3DLOOK;
    if (style & DS_MODALFRAME) exStyle |= WS_EX_DLGMODALFRAME;
    if ((style & DS_CONTROL) || !(style & WS_CHILD)) exStyle |= WS_EX_CONTROLPARENT;
    if (!(style & WS_CHILD) && ((exStyle & WS_EX_DLGMODALFRAME) || (style & (WS_DLGFRAME | WS_THICKFRAME))))
        exStyle |= WS_EX_WINDOWEDGE;
    // The layer's windows have no frame of their own, so the window is the
    // client area the template asks for.
    int width = MulDivRound(t.cx, baseX, 4), height = MulDivRound(t.cy, baseY, 8);
    POINT pos = DialogPosition(t, style, owner, baseX, baseY, width, height);

    // A modal dialog's owner is a top-level window, disabled while the
    // dialog lives. Its focus is noted first, for when it is active again.
    HWND disabledOwner = nullptr;
    if (owner) {
        if (HWND top = RootOf(owner)) owner = top;
        if (FindWindowRecord(owner) && IsWindowEnabled(owner)) {
            if (DialogOf(owner)) SaveFocus(owner);
            EnableWindow(owner, FALSE);
            disabledOwner = owner;
        }
    }

    const char *className = t.windowClass.empty() ? "#32770" : nullptr;
    HWND dlg = CreateWindowExA(exStyle, className ? className : ClassArgument(t.windowClass), t.title.c_str(),
                               style & ~WS_VISIBLE, pos.x, pos.y, width, height, owner, nullptr, instance, nullptr);
    if (!dlg) {
        DWORD error = GetLastError();
        if (font) DeleteObject(font);
        if (disabledOwner && IsWindow(disabledOwner)) EnableWindow(disabledOwner, TRUE);
        SetLastError(error);
        return nullptr;
    }
    std::shared_ptr<DialogState> d = EnsureDialog(dlg);
    d->font = font;
    d->baseX = baseX;
    d->baseY = baseY;
    d->disabledOwner = disabledOwner;
    SetDialogProc(dlg, proc);
    if (proc && font) SendMessageA(dlg, WM_SETFONT, (WPARAM)font, 0);

    HWND defaultButton = nullptr;
    for (const DialogItemTemplate &item : t.items) {
        if (!IsWindow(dlg)) break;
        HWND control = CreateItem(dlg, instance, item, baseX, baseY);
        if (!control) {
            if (t.style & DS_NOFAILCREATE) continue;
            DWORD error = GetLastError();
            EnableOwnerAgain(d.get());
            if (IsWindow(dlg)) DestroyWindow(dlg);
            ReleaseFont(d.get());
            SetLastError(error);
            return nullptr;
        }
        if (font) SendMessageA(control, WM_SETFONT, (WPARAM)font, 0);
        // The last default push button in the template is the default.
        if (IsWindow(control) && (DialogCode(control) & DLGC_DEFPUSHBUTTON)) {
            if (defaultButton && IsWindow(defaultButton))
                SendMessageA(defaultButton, BM_SETSTYLE, BS_PUSHBUTTON, FALSE);
            defaultButton = control;
            d->defaultId = (UINT)GetDlgCtrlID(control);
        }
    }

    if (proc && IsWindow(dlg)) {
        HWND focus = GetNextDlgTabItem(dlg, nullptr, FALSE);
        if (!focus) focus = GetNextDlgGroupItem(dlg, nullptr, FALSE);
        // Nonzero asks for the first tab stop (it may have changed) to get the focus.
        if (SendMessageA(dlg, WM_INITDIALOG, (WPARAM)focus, param) && IsWindow(dlg) && !d->ended &&
            (!(t.style & DS_CONTROL) || (t.style & WS_VISIBLE))) {
            focus = GetNextDlgTabItem(dlg, nullptr, FALSE);
            if (!focus) focus = GetNextDlgGroupItem(dlg, nullptr, FALSE);
            if (focus)
                SetFocusSelectingAll(focus);
            else if (!(t.style & WS_CHILD))
                SetFocus(dlg);
        }
    }
    if (!IsWindow(dlg)) {
        EnableOwnerAgain(d.get());
        ReleaseFont(d.get());
        return nullptr;
    }
    if (HWND capture = GetCapture()) SendMessageA(capture, WM_CANCELMODE, 0, 0);
    if ((t.style & WS_VISIBLE) && IsWindow(dlg) && !d->ended && !IsWindowVisible(dlg)) ShowWindow(dlg, SW_SHOWNORMAL);
    return IsWindow(dlg) ? dlg : nullptr;
}

// The modal loop: the dialog is shown the first time it has nothing to do;
// keys go through IsDialogMessageA; it ends with EndDialog, a WM_QUIT (which
// is posted again for the loop outside) or the dialog's destruction.
INT_PTR RunModalLoop(HWND dlg, const std::shared_ptr<DialogState> &d, HWND owner) {
    State &s = S();
    s.modalDialogs.push_back(dlg);
    d->loopRunning = true;
    bool shown = IsWindowVisible(dlg) != FALSE;
    INT_PTR result = 0;
    while (!d->ended) {
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!shown) {
                ShowWindow(dlg, SW_SHOWNORMAL);
                shown = true;
            }
            Window *w = FindWindowRecord(dlg);
            if (w && !(w->style & DS_NOIDLEMSG) && owner && IsWindow(owner))
                SendMessageA(owner, WM_ENTERIDLE, MSGF_DIALOGBOX, (LPARAM)dlg);
            if (d->ended || !IsWindow(dlg)) break;
            if (GetMessageA(&msg, nullptr, 0, 0) == -1) break;
        }
        if (msg.message == WM_QUIT) {
            PostQuitMessage((int)msg.wParam);
            break;
        }
        if (!IsWindow(dlg)) break;
        if (!IsDialogMessageA(dlg, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (!IsWindow(dlg)) break;
        if (!shown && msg.message == WM_TIMER) {
            ShowWindow(dlg, SW_SHOWNORMAL);
            shown = true;
        }
    }
    // Only EndDialog sets the result: a dialog destroyed or quit under its
    // loop ends with 0.
    if (d->ended) result = d->result;
    d->loopRunning = false;
    auto &stack = s.modalDialogs;
    for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
        if (*it == dlg) {
            stack.erase(std::next(it).base());
            break;
        }
    }
    return result;
}

INT_PTR RunDialog(HINSTANCE instance, const DialogTemplate &t, HWND owner, DLGPROC proc, LPARAM param) {
    HWND dlg = CreateDialogWindow(instance, t, owner, proc, param);
    if (!dlg) return -1;
    std::shared_ptr<DialogState> d = FindWindowRecord(dlg)->dialog;
    HWND realOwner = FindWindowRecord(dlg)->owner;
    INT_PTR result = RunModalLoop(dlg, d, realOwner);
    bool wasActive = S().active == dlg;
    if (IsWindow(dlg)) DestroyWindow(dlg);
    ReleaseFont(d.get());
    EnableOwnerAgain(d.get());
    // Closing an active dialog hands the activation back to its owner.
    if (wasActive && realOwner && IsWindow(realOwner) && !S().active && IsWindowVisible(realOwner))
        SetForegroundWindow(realOwner);
    return result;
}

// Signed or unsigned decimal, as GetDlgItemInt reads it: blanks first, a
// sign (a minus only when signed), digits up to the first other character,
// and a value that fits. Wine's parser takes a minus for unsigned too, and
// wraps it; the layer takes unsigned literally, as the system documents.
bool ParseDialogInteger(const std::string &text, bool isSigned, UINT *value) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || (isSigned && text[i] == '-'))) negative = text[i++] == '-';
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    unsigned long long n = 0;
    unsigned long long limit = isSigned ? (negative ? 2147483648ULL : 2147483647ULL) : 4294967295ULL;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        n = n * 10 + (unsigned)(text[i] - '0');
        if (n > limit) return false;
    }
    *value = negative ? (UINT)(0u - (UINT)n) : (UINT)n;
    return true;
}

}  // namespace

}  // namespace layer

using namespace layer;

extern "C" {

INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE hInstance, LPCDLGTEMPLATEA hDialogTemplate, HWND hWndParent,
                                       DLGPROC lpDialogFunc, LPARAM dwInitParam) {
    EnsureStarted();
    if (hWndParent && !IsWindow(hWndParent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    if (!hDialogTemplate) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    DialogTemplate t;
    if (!ParseDialogTemplate((const uint8_t *)hDialogTemplate, kIndirectTemplateLimit, &t)) {
        SetLastError(ERROR_INVALID_DATA);
        return -1;
    }
    return RunDialog(hInstance, t, hWndParent, lpDialogFunc, dwInitParam);
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam) {
    EnsureStarted();
    S().dialogRequests.emplace_back(IS_INTRESOURCE(lpTemplateName)
                                        ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(lpTemplateName))
                                        : std::string(lpTemplateName ? lpTemplateName : ""),
                                    hWndParent);
    // An owner that is no window is refused before the template is looked
    // for, with 0 rather than -1, as the system does.
    if (hWndParent && !IsWindow(hWndParent)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    HRSRC found = FindResourceA(hInstance, lpTemplateName, RT_DIALOG);
    if (!found) return -1;  // FindResourceA has said why
    const uint8_t *bytes = (const uint8_t *)LockResource(LoadResource(hInstance, found));
    DWORD size = SizeofResource(hInstance, found);
    DialogTemplate t;
    if (!bytes || !ParseDialogTemplate(bytes, size, &t)) {
        SetLastError(ERROR_INVALID_DATA);
        return -1;
    }
    return RunDialog(hInstance, t, hWndParent, lpDialogFunc, dwInitParam);
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
    EnsureStarted();
    Window *w = FindWindowRecord(hDlg);
    if (!w || !w->dialog) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    std::shared_ptr<DialogState> d = w->dialog;
    HWND owner = w->owner;
    d->result = nResult;
    d->ended = true;
    EnableOwnerAgain(d.get());
    if (IsChildOf(hDlg, GetFocus())) SetFocus(hDlg);
    // The owner takes the activation before the dialog goes out of sight,
    // so the program does not see itself lose the activation in between.
    if (S().active == hDlg && owner && IsWindow(owner) && IsWindowVisible(owner)) SetForegroundWindow(owner);
    if (IsWindow(hDlg)) ShowWindow(hDlg, SW_HIDE);
    // A loop waiting for a message wakes and sees it has ended.
    if (IsWindow(hDlg)) PostMessageA(hDlg, WM_NULL, 0, 0);
    return TRUE;
}

LRESULT WINAPI DefDlgProcA(HWND hDlg, UINT Msg, WPARAM wParam, LPARAM lParam) {
    EnsureStarted();
    Window *w = FindWindowRecord(hDlg);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    // Kept alive here: the procedure may destroy the dialog.
    std::shared_ptr<DialogState> keep = EnsureDialog(hDlg);
    if (HasDialogExtra(w)) WriteExtra(w, DWLP_MSGRESULT, 0);
    DLGPROC proc = DialogProcOf(hDlg);
    INT_PTR result = proc ? proc(hDlg, Msg, wParam, lParam) : 0;
    if (!result && FindWindowRecord(hDlg)) {
        switch (Msg) {
        case WM_ERASEBKGND:
        case WM_SHOWWINDOW:
        case WM_ACTIVATE:
        case WM_SETFOCUS:
        case DM_SETDEFID:
        case DM_GETDEFID:
        case WM_NEXTDLGCTL:
        case WM_GETFONT:
        case WM_CLOSE:
        case WM_NCDESTROY:
            return DefaultDialogMessage(hDlg, Msg, wParam, lParam);
        case WM_INITDIALOG:
        case kVKeyToItem:
        case kCompareItem:
        case kCharToItem:
            break;
        default:
            return DefWindowProcA(hDlg, Msg, wParam, lParam);
        }
    }
    // A handled message answers with what the procedure put in
    // DWLP_MSGRESULT, except those whose answer is the return value itself.
    if (ReturnsProcResult(Msg)) return result;
    w = FindWindowRecord(hDlg);
    return w && HasDialogExtra(w) ? ReadExtra(w, DWLP_MSGRESULT) : 0;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
    if (!ValidWindow(hDlg)) return nullptr;
    HWND found = ChildById(hDlg, nIDDlgItem);
    if (!found) SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return found;
}

int WINAPI GetDlgCtrlID(HWND hWnd) {
    Window *w = ValidWindow(hWnd);
    return w ? (int)w->id : 0;
}

LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam) {
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    return control ? SendMessageA(control, Msg, wParam, lParam) : 0;
}

BOOL WINAPI CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck) {
    HWND control = GetDlgItem(hDlg, nIDButton);
    if (!control) return FALSE;
    SendMessageA(control, BM_SETCHECK, uCheck, 0);
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton) {
    return (UINT)SendDlgItemMessageA(hDlg, nIDButton, BM_GETCHECK, 0, 0);
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    if (!control) return FALSE;
    return (BOOL)SendMessageA(control, WM_SETTEXT, 0, (LPARAM)lpString);
}

UINT WINAPI GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax) {
    if (lpString && cchMax > 0) lpString[0] = '\0';
    return (UINT)SendDlgItemMessageA(hDlg, nIDDlgItem, WM_GETTEXT, (WPARAM)(cchMax > 0 ? cchMax : 0),
                                     (LPARAM)lpString);
}

BOOL WINAPI SetDlgItemInt(HWND hDlg, int nIDDlgItem, UINT uValue, BOOL bSigned) {
    char text[16];
    if (bSigned)
        std::snprintf(text, sizeof text, "%d", (int)uValue);
    else
        std::snprintf(text, sizeof text, "%u", uValue);
    return SetDlgItemTextA(hDlg, nIDDlgItem, text);
}

UINT WINAPI GetDlgItemInt(HWND hDlg, int nIDDlgItem, BOOL *lpTranslated, BOOL bSigned) {
    if (lpTranslated) *lpTranslated = FALSE;
    HWND control = GetDlgItem(hDlg, nIDDlgItem);
    if (!control) return 0;
    LRESULT length = SendMessageA(control, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0 || length > INT_MAX - 1) return 0;
    std::string text((size_t)length + 1, '\0');
    LRESULT got = SendMessageA(control, WM_GETTEXT, (WPARAM)text.size(), (LPARAM)text.data());
    text.resize(got > 0 ? std::min<size_t>((size_t)got, text.size() - 1) : 0);
    UINT value = 0;
    if (!ParseDialogInteger(text, bSigned != FALSE, &value)) return 0;
    if (lpTranslated) *lpTranslated = TRUE;
    return value;
}

BOOL WINAPI MapDialogRect(HWND hDlg, LPRECT lpRect) {
    EnsureStarted();
    DialogState *d = DialogOf(hDlg);
    if (!d || !lpRect) {
        SetLastError(d ? ERROR_NOACCESS : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    lpRect->left = MulDivRound(lpRect->left, d->baseX, 4);
    lpRect->right = MulDivRound(lpRect->right, d->baseX, 4);
    lpRect->top = MulDivRound(lpRect->top, d->baseY, 8);
    lpRect->bottom = MulDivRound(lpRect->bottom, d->baseY, 8);
    return TRUE;
}

LONG WINAPI GetDialogBaseUnits(void) {
    // The system font's: what a template without a font is laid out with.
    return MAKELONG(8, 16);
}

}  // extern "C"

namespace layer {

std::vector<DialogRequest> DialogRequests() {
    std::vector<DialogRequest> requests;
    for (const auto &[name, owner] : S().dialogRequests) requests.push_back({name, owner});
    return requests;
}

}  // namespace layer
