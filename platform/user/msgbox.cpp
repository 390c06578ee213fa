// MessageBoxA. Every call is recorded for the tests. Where there is a
// screen to show it on (or a test asks for it), the box is a real modal
// dialog made from a template built here: an icon, the text wrapped to a
// readable width, the buttons the MB_ flags ask for in a row under it, the
// default one per MB_DEFBUTTONn, centred on the owner or the screen. The
// headless desktop answers IDOK at once, as a person who always agrees.
#include <layer_hooks.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "user/controls/controls.h"
#include "user/controls/paint_internal.h"

namespace layer {

namespace {

// Sizes in pixels, for the message font's dialog base units (6 by 13).
constexpr int kBaseX = 6, kBaseY = 13;
constexpr int kMargin = 11;
constexpr int kIconSize = 32;
constexpr int kIconGap = 12;  // between the icon and the text
constexpr int kButtonWidth = 75, kButtonHeight = 23, kButtonGap = 6;
constexpr int kTextButtonGap = 16;
constexpr int kTextId = 0xFFFF;

struct BoxButton {
    int id;
    const char *caption;
};

std::vector<BoxButton> ButtonsFor(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {{IDOK, "OK"}, {IDCANCEL, "Cancel"}};
    case MB_ABORTRETRYIGNORE: return {{IDABORT, "&Abort"}, {IDRETRY, "&Retry"}, {IDIGNORE, "&Ignore"}};
    case MB_YESNOCANCEL: return {{IDYES, "&Yes"}, {IDNO, "&No"}, {IDCANCEL, "Cancel"}};
    case MB_YESNO: return {{IDYES, "&Yes"}, {IDNO, "&No"}};
    case MB_RETRYCANCEL: return {{IDRETRY, "&Retry"}, {IDCANCEL, "Cancel"}};
    }
    return {{IDOK, "OK"}};
}

// What the box's procedure needs to know, kept at DWLP_USER.
struct BoxState {
    UINT type = 0;
    int defaultId = IDOK;
    bool hasCancel = false;
    bool okOnly = false;
    RECT icon = {0, 0, 0, 0};
};

// ---- the template ------------------------------------------------------------------

class TemplateWriter {
public:
    void Word(WORD w) {
        bytes_.push_back((uint8_t)w);
        bytes_.push_back((uint8_t)(w >> 8));
    }
    void Dword(DWORD d) {
        Word((WORD)d);
        Word((WORD)(d >> 16));
    }
    // ANSI text as UTF-16: the code page's printable bytes keep their values.
    void Text(const std::string &s) {
        for (unsigned char c : s) Word(c);
        Word(0);
    }
    void Align() {
        while (bytes_.size() % 4) bytes_.push_back(0);
    }
    void Item(DWORD style, int x, int y, int cx, int cy, int id, WORD classAtom, const std::string &text) {
        Align();
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        for (int v : {x, y, cx, cy}) Word((WORD)(short)v);
        Word((WORD)id);
        Word(0xFFFF);
        Word(classAtom);
        Text(text);
        Word(0);  // no creation data
    }
    std::vector<uint8_t> &Bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

int UnitsX(int pixels) { return (pixels * 4 + kBaseX - 1) / kBaseX; }
int UnitsY(int pixels) { return (pixels * 8 + kBaseY - 1) / kBaseY; }

// The text's size as the label will draw it, no wider than `limit`.
SIZE MeasureText(const std::string &text, int limit) {
    HDC dc = GetDC(nullptr);
    HFONT font = CreateFontA(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "MS Sans Serif");
    HGDIOBJ previous = SelectObject(dc, font);
    RECT r = {0, 0, limit, 0};
    DrawTextA(dc, text.c_str(), (int)text.size(), &r, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    SelectObject(dc, previous);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    return {r.right - r.left, r.bottom - r.top};
}

std::vector<uint8_t> BuildTemplate(HWND owner, const std::string &text, const std::string &caption, UINT type,
                                   BoxState *box) {
    State &s = S();
    std::vector<BoxButton> buttons = ButtonsFor(type);
    bool icon = (type & MB_ICONMASK) != 0;
    int textLimit = std::max(200, s.screenWidth * 3 / 5);
    SIZE textSize = MeasureText(text, textLimit);
    int textLeft = kMargin + (icon ? kIconSize + kIconGap : 0);
    int textHeight = std::max<int>(textSize.cy, 13);
    int upper = std::max(textHeight, icon ? kIconSize : 0);
    int buttonsWidth = (int)buttons.size() * kButtonWidth + ((int)buttons.size() - 1) * kButtonGap;
    int width = std::max(textLeft + (int)textSize.cx + kMargin, buttonsWidth + 2 * kMargin);
    int height = kMargin + upper + kTextButtonGap + kButtonHeight + kMargin;

    // Centred on the owner, else on the screen, and kept on the screen.
    RECT around = {0, 0, s.screenWidth, s.screenHeight};
    if (owner) GetWindowRect(owner, &around);
    int pixelWidth = MulDivRound(UnitsX(width), kBaseX, 4), pixelHeight = MulDivRound(UnitsY(height), kBaseY, 8);
    int x = std::clamp<int>((around.left + around.right - pixelWidth) / 2, 0, std::max(0, s.screenWidth - pixelWidth));
    int y = std::clamp<int>((around.top + around.bottom - pixelHeight) / 2, 0,
                            std::max(0, s.screenHeight - pixelHeight));

    TemplateWriter t;
    t.Dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_ABSALIGN | DS_NOIDLEMSG);
    t.Dword(WS_EX_TOPMOST);
    t.Word((WORD)(buttons.size() + 1));
    t.Word((WORD)UnitsX(x));
    t.Word((WORD)UnitsY(y));
    t.Word((WORD)UnitsX(width));
    t.Word((WORD)UnitsY(height));
    t.Word(0);  // no menu
    t.Word(0);  // the dialog class
    t.Text(caption);
    t.Word(8);
    t.Text("MS Sans Serif");
    // A short text sits level with the middle of the icon.
    int textTop = kMargin + (upper - textHeight) / 2;
    t.Item(SS_LEFT | SS_NOPREFIX | WS_GROUP, UnitsX(textLeft), UnitsY(textTop), UnitsX((int)textSize.cx),
           UnitsY(textHeight), kTextId, 0x0082, text);

    int defaultIndex = (int)((type & MB_DEFMASK) >> 8);
    if (defaultIndex >= (int)buttons.size()) defaultIndex = 0;
    int left = (width - buttonsWidth) / 2, top = kMargin + upper + kTextButtonGap;
    for (size_t i = 0; i < buttons.size(); ++i) {
        DWORD style = WS_TABSTOP | ((int)i == defaultIndex ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        if (i == 0) style |= WS_GROUP;
        int bx = left + (int)i * (kButtonWidth + kButtonGap);
        t.Item(style, UnitsX(bx), UnitsY(top), UnitsX(kButtonWidth), UnitsY(kButtonHeight), buttons[i].id, 0x0080,
               buttons[i].caption);
        if (buttons[i].id == IDCANCEL) box->hasCancel = true;
    }
    box->type = type;
    box->defaultId = buttons[(size_t)defaultIndex].id;
    box->okOnly = (type & MB_TYPEMASK) == MB_OK;
    int iconTop = kMargin + (upper - kIconSize) / 2;
    box->icon = icon ? RECT{kMargin, iconTop, kMargin + kIconSize, iconTop + kIconSize} : RECT{0, 0, 0, 0};
    return std::move(t.Bytes());
}

// ---- the icons ------------------------------------------------------------------------

// A sign in a large bold face, centred in the icon.
void Sign(HDC dc, const RECT &r, const char *sign, COLORREF color, int dy) {
    HFONT font = CreateFontA(32, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "System");
    HGDIOBJ previous = SelectObject(dc, font);
    int mode = SetBkMode(dc, TRANSPARENT);
    COLORREF ink = SetTextColor(dc, color);
    RECT box = {r.left, r.top + dy, r.right, r.bottom + dy};
    DrawTextA(dc, sign, -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
    SetTextColor(dc, ink);
    SetBkMode(dc, mode);
    SelectObject(dc, previous);
    DeleteObject(font);
}

// The four icons are our own simple shapes: a red disc with a white cross
// (stop), a white bubble with a blue question mark, a yellow triangle with
// an exclamation mark, a white bubble with a blue "i" (information).
void DrawIcon(HDC dc, const RECT &r, UINT icon) {
    int size = r.right - r.left;
    double c = (size - 1) / 2.0, radius = size / 2.0 - 1;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            double d = std::hypot(x - c, y - c);
            COLORREF color;
            if (icon == MB_ICONEXCLAMATION) {
                // Apex at the top, base along the bottom row.
                double half = (y + 1) * 0.55;
                double off = std::fabs(x - c);
                if (y < 1 || off > half) continue;
                color = (off > half - 1.5 || y >= size - 2) ? RGB(0, 0, 0) : RGB(255, 255, 0);
            } else {
                if (d > radius) continue;
                bool rim = d > radius - 1.5;
                if (icon == MB_ICONHAND)
                    color = rim ? RGB(128, 0, 0) : RGB(255, 0, 0);
                else
                    color = rim ? RGB(0, 0, 0) : RGB(255, 255, 255);
            }
            Pixel(dc, r.left + x, r.top + y, color);
        }
    }
    switch (icon) {
    case MB_ICONHAND:
        for (int i = 9; i < size - 9; ++i)
            for (int w = -1; w <= 1; ++w) {
                Pixel(dc, r.left + i + w, r.top + i, RGB(255, 255, 255));
                Pixel(dc, r.left + size - 1 - i + w, r.top + i, RGB(255, 255, 255));
            }
        break;
    case MB_ICONQUESTION: Sign(dc, r, "?", RGB(0, 0, 255), 0); break;
    case MB_ICONEXCLAMATION: Sign(dc, r, "!", RGB(0, 0, 0), 3); break;
    case MB_ICONASTERISK: Sign(dc, r, "i", RGB(0, 0, 255), 0); break;
    }
}

INT_PTR CALLBACK MessageBoxProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto *box = (BoxState *)GetWindowLongPtrA(dlg, DWLP_USER);
    switch (msg) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(dlg, DWLP_USER, lParam);
        box = (BoxState *)lParam;
        HWND button = GetDlgItem(dlg, box->defaultId);
        if (button) SendMessageA(dlg, WM_NEXTDLGCTL, (WPARAM)button, TRUE);
        return FALSE;
    }
    case WM_COMMAND: {
        if (!box) return FALSE;
        int id = LOWORD(wParam);
        // Escape and the close box are Cancel; a box without a Cancel
        // button takes them only when OK is its one button.
        if (id == IDCANCEL && !box->hasCancel) {
            if (box->okOnly) EndDialog(dlg, IDOK);
            return TRUE;
        }
        if (id != kTextId && GetDlgItem(dlg, id)) EndDialog(dlg, id);
        return TRUE;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(dlg, &ps);
        if (dc && box && !RectIsEmpty(box->icon)) DrawIcon(dc, box->icon, box->type & MB_ICONMASK);
        EndPaint(dlg, &ps);
        return TRUE;
    }
    }
    return FALSE;
}

bool ShowsMessageBoxes() {
    State &s = S();
    return s.messageBoxesInteractive || s.backend->Interactive();
}

}  // namespace

void SetMessageBoxesInteractive(bool interactive) {
    EnsureStarted();
    S().messageBoxesInteractive = interactive;
}

}  // namespace layer

using namespace layer;

extern "C" int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    EnsureStarted();
    if (hWnd && !IsWindow(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    RecordedBox record;
    record.text = lpText ? lpText : "";
    record.caption = lpCaption ? lpCaption : "Error";  // the system's caption when none is given
    record.flags = uType;
    record.owner = hWnd;
    S().messageBoxes.push_back(record);
    if (!ShowsMessageBoxes()) return IDOK;

    HWND owner = hWnd ? RootOf(hWnd) : nullptr;
    BoxState box;
    std::vector<uint8_t> bytes = BuildTemplate(owner, record.text, record.caption, uType, &box);
    INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), (LPCDLGTEMPLATEA)bytes.data(), owner,
                                             MessageBoxProc, (LPARAM)&box);
    return result > 0 ? (int)result : 0;
}
