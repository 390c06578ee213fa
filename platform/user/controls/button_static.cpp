// The system window classes every process has, and the button and static
// controls.
//
// Where the state lives: each control's window record carries a
// ControlState (Window::control, controls.h) made when the control gets
// WM_NCCREATE. Its kind says which part holds the state: `button` (check
// state, pushed, focus), `edit` (text, selection as anchor and caret,
// focus), `picture` (the static's bitmap) or `trackbar` (range, position,
// page and line sizes, selection, channel and thumb rectangles, drag and
// focus). A static's text and a button's caption are the window text
// (Window::title); an edit keeps its text in EditState. Nothing is drawn
// here: WM_PAINT goes to the painters (paint_buttons.cpp,
// paint_fields.cpp), which read the state above, and every change of
// it invalidates the control.
#include <algorithm>
#include <cstring>

#include "user/controls/controls.h"

namespace layer {

namespace {

constexpr int kEdge = 2;  // SM_CXEDGE: the width of a WS_EX_CLIENTEDGE border

// Checks a button of each type can hold: push buttons and group boxes none,
// three-state boxes also the indeterminate one.
UINT MaxCheck(DWORD type) {
    switch (type) {
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
        return BST_CHECKED;
    case BS_3STATE:
    case BS_AUTO3STATE:
        return BST_INDETERMINATE;
    }
    return BST_UNCHECKED;
}

DWORD ButtonType(HWND hwnd) { return (DWORD)GetWindowLongA(hwnd, GWL_STYLE) & BS_TYPEMASK; }

ControlState *Attach(HWND hwnd, ControlKind kind) {
    Window *w = FindWindowRecord(hwnd);
    if (!w) return nullptr;
    if (!w->control || w->control->kind != kind) {
        w->control = std::make_shared<ControlState>();
        w->control->kind = kind;
    }
    return w->control.get();
}

// A caption given as a resource ordinal ("\xff" and a little-endian WORD)
// is not text.
bool IsOrdinalName(LPCSTR name) { return name && !IS_INTRESOURCE(name) && (unsigned char)name[0] == 0xFF; }

WORD OrdinalOf(LPCSTR name) { return (WORD)((unsigned char)name[1] | ((unsigned char)name[2] << 8)); }

// WM_NCCREATE with an ordinal caption stores no text.
LRESULT CreateWithoutOrdinal(HWND hwnd, LPARAM lParam) {
    CREATESTRUCTA cs = *(const CREATESTRUCTA *)lParam;
    if (IsOrdinalName(cs.lpszName)) cs.lpszName = "";
    return DefWindowProcA(hwnd, WM_NCCREATE, 0, (LPARAM)&cs);
}

bool InsideClient(HWND hwnd, LPARAM lParam) {
    RECT r;
    GetClientRect(hwnd, &r);
    int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// ---- button ---------------------------------------------------------------------

void SetPushed(HWND hwnd, bool pushed) {
    ControlState *c = ControlOf(hwnd, ControlKind::Button);
    if (!c || c->button.pushed == pushed) return;
    c->button.pushed = pushed;
    InvalidateRect(hwnd, nullptr, FALSE);
}

void BeginPress(HWND hwnd) {
    ControlState *c = ControlOf(hwnd, ControlKind::Button);
    if (!c) return;
    c->button.tracking = true;
    SetPushed(hwnd, true);
    SetCapture(hwnd);
}

// The press ends where it began, or elsewhere: only a release inside the
// button clicks it. An automatic box changes before its parent hears.
void EndPress(HWND hwnd, bool inside) {
    ControlState *c = ControlOf(hwnd, ControlKind::Button);
    if (!c || !c->button.tracking) return;
    c->button.tracking = false;
    bool clicked = c->button.pushed && inside;
    SetPushed(hwnd, false);
    if (clicked) {
        switch (ButtonType(hwnd)) {
        case BS_AUTOCHECKBOX:
            SendMessageA(hwnd, BM_SETCHECK, c->button.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED, 0);
            break;
        case BS_AUTORADIOBUTTON:
            SendMessageA(hwnd, BM_SETCHECK, BST_CHECKED, 0);
            break;
        case BS_AUTO3STATE:
            SendMessageA(hwnd, BM_SETCHECK, (c->button.check + 1) % 3, 0);
            break;
        }
    }
    if (GetCapture() == hwnd) ReleaseCapture();
    if (clicked && IsWindow(hwnd)) NotifyParent(hwnd, BN_CLICKED);
}

LRESULT ButtonDialogCode(HWND hwnd) {
    switch (ButtonType(hwnd)) {
    case BS_PUSHBUTTON:
    case BS_USERBUTTON:
    case BS_PUSHBOX:
        return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
    case BS_DEFPUSHBUTTON:
        return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
        return DLGC_BUTTON | DLGC_RADIOBUTTON;
    case BS_GROUPBOX:
        return DLGC_STATIC;
    }
    return DLGC_BUTTON;
}

// ---- static ------------------------------------------------------------------------

// A picture static takes the size of its picture unless told to keep its own.
void FitToImage(HWND hwnd, HANDLE image) {
    DWORD style = (DWORD)GetWindowLongA(hwnd, GWL_STYLE);
    if (!image || (style & (SS_CENTERIMAGE | SS_REALSIZECONTROL))) return;
    BITMAP bm;
    if (GetObjectA(image, sizeof bm, &bm) != sizeof bm) return;
    ResizeWindowInternal(hwnd, bm.bmWidth, bm.bmHeight);
}

}  // namespace

ControlState *ControlOf(HWND hwnd, ControlKind kind) {
    Window *w = FindWindowRecord(hwnd);
    if (!w || !w->control || w->control->kind != kind) return nullptr;
    return w->control.get();
}

DialogState *DialogOf(HWND hwnd) {
    Window *w = FindWindowRecord(hwnd);
    return w ? w->dialog.get() : nullptr;
}

void NotifyParent(HWND control, WORD code) {
    HWND parent = GetParent(control);
    if (!parent || !FindWindowRecord(parent)) return;
    SendMessageA(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), code), (LPARAM)control);
}

void ClientInsideEdge(HWND hwnd, RECT *rect) {
    if (!(GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)) return;
    rect->left += kEdge;
    rect->top += kEdge;
    rect->right = std::max(rect->left, rect->right - kEdge);
    rect->bottom = std::max(rect->top, rect->bottom - kEdge);
}

void ResizeWindowInternal(HWND hwnd, int width, int height) {
    Window *w = FindWindowRecord(hwnd);
    if (!w) return;
    width = std::max(width, 0);
    height = std::max(height, 0);
    w->rect.right = w->rect.left + width;
    w->rect.bottom = w->rect.top + height;
    RECT rc = w->rect;
    SendMessageA(hwnd, WM_NCCALCSIZE, FALSE, (LPARAM)&rc);
    if (!(w = FindWindowRecord(hwnd))) return;
    RECT client = {rc.left - w->rect.left, rc.top - w->rect.top, rc.right - w->rect.left, rc.bottom - w->rect.top};
    if (RectIsEmpty(client)) client = {0, 0, 0, 0};
    w->client = client;
    SizeSurface(w);
    w->update.Clear();
    InvalidateRect(hwnd, nullptr, TRUE);
    SendMessageA(hwnd, WM_SIZE, SIZE_RESTORED,
                 MAKELPARAM(client.right - client.left, client.bottom - client.top));
}

int MulDivRound(int a, int b, int c) {
    if (c == 0) return 0;
    long long p = (long long)a * b;
    bool negative = (p < 0) != (c < 0);
    long long n = p < 0 ? -p : p, d = c < 0 ? -(long long)c : c;
    long long q = (n + d / 2) / d;
    return (int)(negative ? -q : q);
}

// The figures the faces have at 96 dots per inch: "MS Sans Serif" an
// average character 6 pixels wide and 13 high at 8 points (scaled for
// other sizes), "System" 8 by 16 at any size (it is a bitmap font of one
// size, and the dialog base units of a template with no font). Any other
// face is measured as MS Sans Serif. The layer's own faces (gdi/font.cpp)
// are drawn to give these same figures, so text fits the controls laid out
// with them. Wine substitutes its own fonts and reports 7 by 13 and 9 by
// 16; nothing in the program depends on the exact figures.
void BaseUnitsForFont(const std::string &face, int pointSize, int *baseX, int *baseY) {
    if (face.empty() || EqualNoCase(face, "System")) {
        *baseX = 8;
        *baseY = 16;
        return;
    }
    int points = pointSize > 0 && pointSize < 0x7FFF ? pointSize : 8;
    *baseX = std::max(1, MulDivRound(6, points, 8));
    *baseY = std::max(1, MulDivRound(13, points, 8));
}

LRESULT SetControlFont(HWND hwnd, ControlState *c, WPARAM font, LPARAM redraw) {
    c->font = (HFONT)font;
    if (LOWORD(redraw)) InvalidateRect(hwnd, nullptr, TRUE);
    return 0;
}

void RegisterSystemClasses() {
    State &s = S();
    struct SystemClass {
        const char *name;
        WNDPROC proc;
        UINT style;
        int extra;
        HBRUSH background;
        bool dialog;
    };
    const SystemClass systemClasses[] = {
        {"#32770", DefDlgProcA, CS_DBLCLKS | CS_SAVEBITS, DLGWINDOWEXTRA, nullptr, true},
        {"Button", ButtonProc, CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW, 0, nullptr, false},
        {"Edit", EditProc, CS_DBLCLKS, 0, nullptr, false},
        {"Static", StaticProc, CS_DBLCLKS, 0, nullptr, false},
        {TRACKBAR_CLASSA, TrackbarProc, 0, (int)sizeof(void *), (HBRUSH)(COLOR_BTNFACE + 1), false},
    };
    for (const SystemClass &known : systemClasses) {
        auto c = std::make_unique<WindowClass>();
        c->name = known.name;
        // The dialog class is known by its atom, 32770, as well as its name.
        c->atom = known.dialog ? (ATOM)0x8002 : s.nextAtom++;
        c->style = known.style | CS_GLOBALCLASS;
        c->proc = known.proc;
        c->wndExtra = known.extra;
        c->cursor = StockArrowCursor();
        c->background = known.background;
        s.classes.push_back(std::move(c));
    }
}

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        if (!Attach(hwnd, ControlKind::Button)) return FALSE;
        return CreateWithoutOrdinal(hwnd, lParam);
    }
    ControlState *c = ControlOf(hwnd, ControlKind::Button);
    if (!c) return DefWindowProcA(hwnd, msg, wParam, lParam);
    switch (msg) {
    case WM_NCCALCSIZE:
        ClientInsideEdge(hwnd, (RECT *)lParam);
        return 0;
    case WM_GETDLGCODE:
        return ButtonDialogCode(hwnd);
    case WM_PAINT:
        PaintButton(hwnd);
        return 0;
    case WM_NCHITTEST:
        // A group box is only a frame: the mouse goes through it.
        if (ButtonType(hwnd) == BS_GROUPBOX) return HTTRANSPARENT;
        return HTCLIENT;
    case WM_SETFONT:
        return SetControlFont(hwnd, c, wParam, lParam);
    case WM_GETFONT:
        return (LRESULT)c->font;
    case WM_SETTEXT: {
        LRESULT r = DefWindowProcA(hwnd, msg, wParam, lParam);
        InvalidateRect(hwnd, nullptr, TRUE);
        return r;
    }
    case BM_GETCHECK:
        return c->button.check;
    case BM_SETCHECK: {
        UINT check = std::min<UINT>((UINT)wParam, MaxCheck(ButtonType(hwnd)));
        if (check != c->button.check) {
            c->button.check = check;
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        return 0;
    }
    case BM_GETSTATE:
        return c->button.check | (c->button.pushed ? BST_PUSHED : 0) | (c->button.focused ? BST_FOCUS : 0);
    case BM_SETSTATE:
        SetPushed(hwnd, wParam != 0);
        return 0;
    case BM_SETSTYLE: {
        DWORD style = (DWORD)GetWindowLongA(hwnd, GWL_STYLE);
        DWORD wanted = (style & ~BS_TYPEMASK) | ((DWORD)wParam & BS_TYPEMASK);
        if (wanted != style) SetWindowLongPtrA(hwnd, GWL_STYLE, (LONG)wanted);
        if (LOWORD(lParam)) InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    }
    case BM_CLICK:
        // A click from the program: a press and a release inside.
        SendMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, 0);
        SendMessageA(hwnd, WM_LBUTTONUP, 0, 0);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        if (ButtonType(hwnd) == BS_GROUPBOX) return 0;
        // A second quick click is a click like the first.
        SetFocus(hwnd);
        if (IsWindow(hwnd)) BeginPress(hwnd);
        return 0;
    case WM_MOUSEMOVE:
        if (c->button.tracking && GetCapture() == hwnd) SetPushed(hwnd, InsideClient(hwnd, lParam));
        return 0;
    case WM_LBUTTONUP:
        EndPress(hwnd, InsideClient(hwnd, lParam));
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_SPACE && !c->button.tracking && ButtonType(hwnd) != BS_GROUPBOX) BeginPress(hwnd);
        return 0;
    case WM_KEYUP:
        if (wParam == VK_SPACE) EndPress(hwnd, true);
        return 0;
    case WM_CAPTURECHANGED:
        if (c->button.tracking && (HWND)lParam != hwnd) {
            c->button.tracking = false;
            SetPushed(hwnd, false);
        }
        return 0;
    case WM_SETFOCUS:
        c->button.focused = true;
        InvalidateRect(hwnd, nullptr, FALSE);
        if (GetWindowLongA(hwnd, GWL_STYLE) & BS_NOTIFY) NotifyParent(hwnd, BN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        c->button.focused = false;
        InvalidateRect(hwnd, nullptr, FALSE);
        if (c->button.tracking && GetCapture() == hwnd) ReleaseCapture();
        if (IsWindow(hwnd) && (GetWindowLongA(hwnd, GWL_STYLE) & BS_NOTIFY)) NotifyParent(hwnd, BN_KILLFOCUS);
        return 0;
    case WM_ENABLE:
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK StaticProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        if (!Attach(hwnd, ControlKind::Static)) return FALSE;
        return CreateWithoutOrdinal(hwnd, lParam);
    }
    ControlState *c = ControlOf(hwnd, ControlKind::Static);
    if (!c) return DefWindowProcA(hwnd, msg, wParam, lParam);
    bool picture = ((DWORD)GetWindowLongA(hwnd, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP;
    switch (msg) {
    case WM_CREATE: {
        // A picture static names its bitmap by the caption: a resource
        // ordinal, as dialog templates give it, or a resource name.
        const CREATESTRUCTA *cs = (const CREATESTRUCTA *)lParam;
        if (!picture || !cs->lpszName || (!IsOrdinalName(cs->lpszName) && !*cs->lpszName)) return 0;
        LPCSTR name = IsOrdinalName(cs->lpszName) ? MAKEINTRESOURCEA(OrdinalOf(cs->lpszName)) : cs->lpszName;
        HANDLE image = LoadImageA(cs->hInstance, name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
        if (!(c = ControlOf(hwnd, ControlKind::Static))) return -1;
        c->picture.image = c->picture.loaded = image;
        FitToImage(hwnd, image);
        return 0;
    }
    case WM_NCDESTROY:
        if (c->picture.loaded && c->picture.loaded == c->picture.image) DeleteObject(c->picture.loaded);
        c->picture = StaticState{};
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    case WM_NCCALCSIZE:
        ClientInsideEdge(hwnd, (RECT *)lParam);
        return 0;
    case WM_PAINT:
        PaintStatic(hwnd);
        return 0;
    case WM_NCHITTEST:
        // Only a static that notifies takes the mouse.
        return (GetWindowLongA(hwnd, GWL_STYLE) & SS_NOTIFY) ? HTCLIENT : HTTRANSPARENT;
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case WM_SETFONT:
        return SetControlFont(hwnd, c, wParam, lParam);
    case WM_GETFONT:
        return (LRESULT)c->font;
    case WM_SETTEXT: {
        if (picture) return TRUE;
        LRESULT r = DefWindowProcA(hwnd, msg, wParam, lParam);
        InvalidateRect(hwnd, nullptr, TRUE);
        return r;
    }
    case STM_GETIMAGE:
        return picture && wParam == IMAGE_BITMAP ? (LRESULT)c->picture.image : 0;
    case STM_SETIMAGE: {
        if (!picture || wParam != IMAGE_BITMAP) return 0;
        HANDLE previous = c->picture.image;
        c->picture.image = (HANDLE)lParam;
        FitToImage(hwnd, c->picture.image);
        InvalidateRect(hwnd, nullptr, TRUE);
        // The one handed back is the caller's now, even the control's own.
        if (previous && previous == c->picture.loaded) c->picture.loaded = nullptr;
        return (LRESULT)previous;
    }
    case WM_ENABLE:
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace layer
