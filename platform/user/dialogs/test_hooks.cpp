// Test hooks for dialogs: the innermost running dialog, and a person's
// clicks, drags and typing, queued as the display would queue them.
#include <layer_hooks.h>

#include <cstring>

#include "user/controls/controls.h"

namespace layer {

namespace {

POINT ScreenPoint(HWND hwnd, POINT client) {
    Window *w = FindWindowRecord(hwnd);
    if (!w) return client;
    POINT origin = ClientOrigin(w);
    return {origin.x + client.x, origin.y + client.y};
}

// Hands the trackbar the mouse messages queued for it so far, so that each
// move of a drag is seen on its own rather than merged with the next.
void DeliverMouse(HWND hwnd) {
    MSG m;
    while (PeekMessageA(&m, hwnd, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
        if (m.message == WM_QUIT) {
            // Not ours to take: it goes back for the loop outside.
            PostQuitMessage((int)m.wParam);
            return;
        }
        DispatchMessageA(&m);
    }
}

struct KeyStroke {
    UINT vk = 0;
    bool shift = false;
};

// The key a US keyboard types `ch` with, if any.
bool KeyFor(char ch, KeyStroke *key) {
    static const char shiftedDigits[] = ")!@#$%^&*(";
    static const struct {
        UINT vk;
        char plain, shifted;
    } punctuation[] = {{VK_OEM_1, ';', ':'},     {VK_OEM_PLUS, '=', '+'},   {VK_OEM_COMMA, ',', '<'},
                       {VK_OEM_MINUS, '-', '_'}, {VK_OEM_PERIOD, '.', '>'}, {VK_OEM_2, '/', '?'},
                       {VK_OEM_3, '`', '~'},     {VK_OEM_4, '[', '{'},      {VK_OEM_5, '\\', '|'},
                       {VK_OEM_6, ']', '}'},     {VK_OEM_7, '\'', '"'}};
    if (ch >= 'a' && ch <= 'z') {
        *key = {(UINT)(ch - 'a' + 'A'), false};
    } else if (ch >= 'A' && ch <= 'Z') {
        *key = {(UINT)ch, true};
    } else if (ch >= '0' && ch <= '9') {
        *key = {(UINT)ch, false};
    } else if (ch && std::strchr(shiftedDigits, ch)) {
        *key = {(UINT)('0' + (std::strchr(shiftedDigits, ch) - shiftedDigits)), true};
    } else if (ch == ' ') {
        *key = {VK_SPACE, false};
    } else if (ch == '\b') {
        *key = {VK_BACK, false};
    } else if (ch == '\t') {
        *key = {VK_TAB, false};
    } else if (ch == '\r' || ch == '\n') {
        *key = {VK_RETURN, false};
    } else if (ch == 0x1B) {
        *key = {VK_ESCAPE, false};
    } else {
        for (const auto &p : punctuation) {
            if (ch == p.plain || ch == p.shifted) {
                *key = {p.vk, ch == p.shifted};
                return true;
            }
        }
        return false;
    }
    return true;
}

}  // namespace

HWND ActiveDialog() {
    EnsureStarted();
    const auto &stack = S().modalDialogs;
    for (auto it = stack.rbegin(); it != stack.rend(); ++it)
        if (FindWindowRecord(*it)) return *it;
    return nullptr;
}

void ClickControl(HWND control) {
    EnsureStarted();
    RECT r;
    if (!GetWindowRect(control, &r)) return;
    InjectMouseMove((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    InjectButton(Button::Left, true);
    InjectButton(Button::Left, false);
}

void DragTrackbar(HWND trackbar, int position) {
    EnsureStarted();
    POINT from, to;
    if (!TrackbarThumbCentre(trackbar, &from) || !TrackbarPointForPosition(trackbar, position, &to)) return;
    from = ScreenPoint(trackbar, from);
    to = ScreenPoint(trackbar, to);
    InjectMouseMove(from.x, from.y);
    DeliverMouse(trackbar);
    InjectButton(Button::Left, true);
    DeliverMouse(trackbar);
    constexpr int kMoves = 4;
    for (int i = 1; i <= kMoves; ++i) {
        InjectMouseMove(from.x + (to.x - from.x) * i / kMoves, from.y + (to.y - from.y) * i / kMoves);
        DeliverMouse(trackbar);
    }
    InjectButton(Button::Left, false);
    DeliverMouse(trackbar);
}

void TypeText(HWND control, const std::string &text) {
    EnsureStarted();
    if (!FindWindowRecord(control)) return;
    // The focus as a click gives it; the selection stays as it was.
    if (GetFocus() != control) SetFocus(control);
    for (char ch : text) {
        KeyStroke key;
        if (!KeyFor(ch, &key)) {
            // No key of the keyboard makes it: it arrives as the character alone.
            MSG m = {};
            m.hwnd = control;
            m.message = WM_CHAR;
            m.wParam = (unsigned char)ch;
            m.lParam = 1;
            m.time = GetTickCount();
            m.pt = S().cursor;
            QueueInput(m);
            continue;
        }
        if (key.shift) InjectKey(VK_SHIFT, true);
        InjectKey(key.vk, true);
        InjectKey(key.vk, false);
        if (key.shift) InjectKey(VK_SHIFT, false);
    }
}

void SelectAllText(HWND edit) {
    EnsureStarted();
    SendMessageA(edit, EM_SETSEL, 0, -1);
}

}  // namespace layer
