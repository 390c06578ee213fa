// Input: the cursor, and keys and mouse events on their way into the queue.
// Keys go to the focus window (to the active window, as system keys, when
// nothing has the focus); mouse messages go to the window under the cursor
// with client coordinates; the wheel goes to the focus window.
#include <layer_hooks.h>

#include <algorithm>
#include <cstdlib>

#include "session/layer_internal.h"

namespace layer {

namespace {

constexpr DWORD kDoubleClickTime = 500;
constexpr int kDoubleClickSlop = 2;  // half of SM_CXDOUBLECLK

MSG InputMsg(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG m;
    m.hwnd = hwnd;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = GetTickCount();
    m.pt = S().cursor;
    return m;
}

WPARAM MouseKeyFlags() {
    State &s = S();
    WPARAM f = 0;
    if (s.buttonDown[0]) f |= MK_LBUTTON;
    if (s.buttonDown[1]) f |= MK_RBUTTON;
    if (s.buttonDown[2]) f |= MK_MBUTTON;
    if (s.keyDown[VK_SHIFT]) f |= MK_SHIFT;
    if (s.keyDown[VK_CONTROL]) f |= MK_CONTROL;
    return f;
}

UINT ScanCode(UINT vk) {
    static const char row1[] = "QWERTYUIOP", row2[] = "ASDFGHJKL", row3[] = "ZXCVBNM";
    if (vk >= '1' && vk <= '9') return 0x02 + (vk - '1');
    if (vk == '0') return 0x0B;
    for (int i = 0; row1[i]; ++i)
        if ((UINT)row1[i] == vk) return 0x10 + (UINT)i;
    for (int i = 0; row2[i]; ++i)
        if ((UINT)row2[i] == vk) return 0x1E + (UINT)i;
    for (int i = 0; row3[i]; ++i)
        if ((UINT)row3[i] == vk) return 0x2C + (UINT)i;
    if (vk >= VK_F1 && vk <= VK_F10) return 0x3B + (vk - VK_F1);
    switch (vk) {
    case VK_ESCAPE: return 0x01;
    case VK_BACK: return 0x0E;
    case VK_TAB: return 0x0F;
    case VK_RETURN: return 0x1C;
    case VK_CONTROL: return 0x1D;
    case VK_SHIFT: return 0x2A;
    case VK_MENU: return 0x38;
    case VK_SPACE: return 0x39;
    case VK_HOME: return 0x47;
    case VK_UP: return 0x48;
    case VK_PRIOR: return 0x49;
    case VK_LEFT: return 0x4B;
    case VK_RIGHT: return 0x4D;
    case VK_END: return 0x4F;
    case VK_DOWN: return 0x50;
    case VK_NEXT: return 0x51;
    case VK_DELETE: return 0x53;
    }
    return 0;
}

void QueueMouse(UINT message) {
    State &s = S();
    // A window that captured the mouse gets it wherever the cursor is.
    HWND target = s.capture && FindWindowRecord(s.capture) ? s.capture : WindowFromScreenPoint(s.cursor);
    // Nothing of ours under the cursor, or a disabled window: the event
    // belongs to someone else.
    if (!target || (target != s.capture && !IsEnabledChain(target))) return;
    Window *w = FindWindowRecord(target);
    if (message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN) {
        DWORD now = GetTickCount();
        bool isDouble = w->cls && (w->cls->style & CS_DBLCLKS) && s.lastClickMessage == message &&
                        s.lastClickWindow == target && now - s.lastClickTime < kDoubleClickTime &&
                        std::abs(s.cursor.x - s.lastClickPos.x) <= kDoubleClickSlop &&
                        std::abs(s.cursor.y - s.lastClickPos.y) <= kDoubleClickSlop;
        if (isDouble) {
            message += WM_LBUTTONDBLCLK - WM_LBUTTONDOWN;
            s.lastClickMessage = 0;  // a third click starts over
        } else {
            s.lastClickMessage = message;
            s.lastClickWindow = target;
            s.lastClickTime = now;
            s.lastClickPos = s.cursor;
        }
    }
    POINT origin = ClientOrigin(w);
    LPARAM lp = MAKELPARAM(s.cursor.x - origin.x, s.cursor.y - origin.y);
    QueueInput(InputMsg(target, message, MouseKeyFlags(), lp));
}

// Wheels turn for the focus window (else the active one); unlike the other
// mouse messages, a wheel reports screen coordinates.
void QueueWheel(UINT message, int delta) {
    State &s = S();
    HWND target = s.focus ? s.focus : s.active;
    if (!target || !FindWindowRecord(target)) return;
    WPARAM wp = MAKEWPARAM((WORD)MouseKeyFlags(), (WORD)(short)delta);
    QueueInput(InputMsg(target, message, wp, MAKELPARAM(s.cursor.x, s.cursor.y)));
}

// The cursor stays on the virtual screen, as Windows keeps it.
void ClampToScreen(int *x, int *y) {
    const RECT &v = S().virtualScreen;
    *x = std::clamp<int>(*x, v.left, std::max(v.left, v.right - 1));
    *y = std::clamp<int>(*y, v.top, std::max(v.top, v.bottom - 1));
}

// The active window takes the keyboard back from a window the display
// handed it to (the disabled owner of a modal dialog).
void HandKeyboardToActive() {
    State &s = S();
    if (s.active && IsVisibleChain(s.active) && IsEnabledChain(s.active))
        s.backend->FocusNativeWindow((uintptr_t)s.active);
}

class LayerSink final : public InputSink {
public:
    void PointerMoved(int x, int y) override { InjectMouseMove(x, y); }
    void ButtonChanged(Button button, bool down) override { InjectButton(button, down); }
    void WheelTurned(int delta, bool horizontal) override {
        QueueWheel(horizontal ? WM_MOUSEHWHEEL : WM_MOUSEWHEEL, delta);
    }
    void KeyChanged(UINT virtualKey, bool down, bool alt) override { InjectKey(virtualKey, down, alt); }
    void Exposed(uintptr_t nativeWindow, const RECT &area) override {
        // Every window keeps its pixels, so an uncovered part is shown again
        // without asking the program to paint.
        if (FindWindowRecord((HWND)nativeWindow)) MarkDirty((HWND)nativeWindow, area);
    }
    void CloseRequested(uintptr_t nativeWindow) override {
        HWND hwnd = (HWND)nativeWindow;
        if (!FindWindowRecord(hwnd)) return;
        // The close box of a window that a modal dialog has disabled does
        // nothing, as a click on it would: closing it under the dialog
        // would end it while its dialog still runs.
        if (!IsEnabledChain(hwnd)) {
            HandKeyboardToActive();
            return;
        }
        PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    void NativeWindowMoved(uintptr_t nativeWindow, int x, int y) override {
        Window *w = FindWindowRecord((HWND)nativeWindow);
        if (!w || w->desktop || w->parent || w->foreignParent) return;
        POINT origin = ClientOrigin(w);
        if (origin.x == x && origin.y == y) return;
        int dx = x - origin.x, dy = y - origin.y;
        w->rect.left += dx;
        w->rect.right += dx;
        w->rect.top += dy;
        w->rect.bottom += dy;
        SendMessageA((HWND)nativeWindow, WM_MOVE, 0, MAKELPARAM(x, y));
    }
    void NativeWindowFocused(uintptr_t nativeWindow) override {
        HWND hwnd = (HWND)nativeWindow;
        Window *w = FindWindowRecord(hwnd);
        if (!w || w->desktop || w->parent || w->foreignParent || !(w->style & WS_VISIBLE)) return;
        // A window manager gave the keyboard to the owner of a modal
        // dialog: the dialog keeps it.
        if (!IsEnabledChain(hwnd)) {
            HandKeyboardToActive();
            return;
        }
        if (S().active != hwnd) ActivateWindow(hwnd);
    }
    void DisplayChanged() override {
        RefreshMonitors();
        State &s = S();
        // Every top-level window hears of it, as a broadcast reaches them.
        std::vector<HWND> tops = s.topLevels;
        for (HWND top : tops)
            if (FindWindowRecord(top))
                SendMessageA(top, WM_DISPLAYCHANGE, 32, MAKELPARAM(s.screenWidth, s.screenHeight));
    }
    void NativeWindowGone(uintptr_t nativeWindow) override {
        State &s = S();
        if (FindWindowRecord((HWND)nativeWindow)) {
            DestroyWindow((HWND)nativeWindow);
            return;
        }
        // Our children of a foreign window die with it, as they would have
        // on Windows.
        std::vector<HWND> orphans;
        for (auto &entry : s.windows)
            if (entry.second->foreignParent == nativeWindow && !entry.second->ncDestroyed)
                orphans.push_back(entry.second->handle);
        for (HWND h : orphans)
            if (FindWindowRecord(h)) DestroyWindow(h);
    }
};

}  // namespace

HWND KeyboardTarget(HWND queuedFor) {
    State &s = S();
    if (s.focus && FindWindowRecord(s.focus)) return s.focus;
    if (s.active && FindWindowRecord(s.active)) return s.active;
    return queuedFor;
}

InputSink &LayerInputSink() {
    static LayerSink sink;
    return sink;
}

bool AcceptHardwareMessage(MSG *m) {
    if (!FindWindowRecord(m->hwnd)) return false;
    if (m->message == WM_KEYDOWN || m->message == WM_KEYUP || m->message == WM_SYSKEYDOWN || m->message == WM_SYSKEYUP) {
        bool down = m->message == WM_KEYDOWN || m->message == WM_SYSKEYDOWN;
        S().threadKeyDown[m->wParam & 0xFF] = down;
    }
    bool mouse = m->message >= WM_MOUSEFIRST && m->message <= WM_MOUSELAST && m->message != WM_MOUSEWHEEL &&
                 m->message != WM_MOUSEHWHEEL;
    if (!mouse) return true;
    HWND hwnd = m->hwnd;
    LRESULT hit = SendMessageA(hwnd, WM_NCHITTEST, 0, MAKELPARAM(m->pt.x, m->pt.y));
    if (!FindWindowRecord(hwnd)) return false;
    if (hit == HTNOWHERE || hit == HTERROR || hit == HTTRANSPARENT) {
        SendMessageA(hwnd, WM_SETCURSOR, (WPARAM)hwnd, MAKELPARAM((WORD)hit, m->message));
        return false;
    }
    bool eat = false;
    bool press = m->message == WM_LBUTTONDOWN || m->message == WM_RBUTTONDOWN || m->message == WM_MBUTTONDOWN ||
                 m->message == WM_LBUTTONDBLCLK || m->message == WM_RBUTTONDBLCLK || m->message == WM_MBUTTONDBLCLK;
    if (press) {
        HWND top = RootOf(hwnd);
        if (top && top != S().active) {
            LRESULT r = SendMessageA(hwnd, WM_MOUSEACTIVATE, (WPARAM)top, MAKELPARAM((WORD)hit, m->message));
            if (r == MA_ACTIVATE || r == MA_ACTIVATEANDEAT) SetForegroundWindow(top);
            eat = r == MA_ACTIVATEANDEAT || r == MA_NOACTIVATEANDEAT;
            if (!FindWindowRecord(hwnd)) return false;
        }
    }
    SendMessageA(hwnd, WM_SETCURSOR, (WPARAM)hwnd, MAKELPARAM((WORD)hit, m->message));
    if (!FindWindowRecord(hwnd)) return false;
    return !eat;
}

void SetCursorPosition(int x, int y) {
    EnsureStarted();
    ClampToScreen(&x, &y);
    S().cursor = {x, y};
}

void InjectMouseMove(int x, int y) {
    EnsureStarted();
    ClampToScreen(&x, &y);
    S().cursor = {x, y};
    QueueMouse(WM_MOUSEMOVE);
}

void InjectButton(Button button, bool down) {
    EnsureStarted();
    int index = button == Button::Left ? 0 : button == Button::Right ? 1 : 2;
    static const UINT downMessages[] = {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN};
    static const UINT upMessages[] = {WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP};
    S().buttonDown[index] = down;
    QueueMouse(down ? downMessages[index] : upMessages[index]);
}

void InjectWheel(int delta) {
    EnsureStarted();
    QueueWheel(WM_MOUSEWHEEL, delta);
}

void FollowNativePointer() {
    State &s = S();
    int x, y;
    if (!s.backend || !s.backend->PointerPosition(&x, &y)) return;
    ClampToScreen(&x, &y);
    s.cursor = {x, y};
}

void InjectKey(UINT virtualKey, bool down, bool alt) {
    EnsureStarted();
    State &s = S();
    UINT vk = virtualKey & 0xFF;
    bool wasDown = s.keyDown[vk];
    bool altHeld = alt || s.keyDown[VK_MENU] || (vk == VK_MENU && down);
    s.keyDown[vk] = down;
    HWND target = s.focus;
    bool system = altHeld || vk == VK_F10 || vk == VK_MENU;
    if (!target || !FindWindowRecord(target)) {
        // With no focus window, keys still reach the active window, as
        // system keys.
        target = s.active;
        system = true;
    }
    if (!target || !FindWindowRecord(target)) return;
    UINT message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
    LPARAM lp = 1 | ((LPARAM)ScanCode(vk) << 16);
    if (altHeld && !(vk == VK_MENU && !down)) lp |= (LPARAM)1 << 29;
    if (wasDown || !down) lp |= (LPARAM)1 << 30;
    if (!down) lp |= (LPARAM)1 << 31;
    QueueInput(InputMsg(target, message, vk, (LPARAM)(DWORD)lp));
}

}  // namespace layer

using namespace layer;

extern "C" {

BOOL WINAPI GetCursorPos(LPPOINT lpPoint) {
    EnsureStarted();
    if (!lpPoint) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    // Where the pointer is now, not where the last message left it: a
    // program measuring movement from here must not see a jump later.
    FollowNativePointer();
    *lpPoint = S().cursor;
    return TRUE;
}

BOOL WINAPI SetCursorPos(int X, int Y) {
    EnsureStarted();
    ClampToScreen(&X, &Y);
    State &s = S();
    bool moved = s.cursor.x != X || s.cursor.y != Y;
    s.cursor = {X, Y};
    s.backend->WarpPointer(X, Y);
    // Moving the cursor from a program is a mouse move like any other.
    if (moved) QueueMouse(WM_MOUSEMOVE);
    return TRUE;
}

HCURSOR WINAPI SetCursor(HCURSOR hCursor) {
    EnsureStarted();
    if (hCursor && !IsUserIconOrCursor(hCursor)) {
        SetLastError(ERROR_INVALID_CURSOR_HANDLE);
        return nullptr;
    }
    State &s = S();
    HCURSOR previous = s.currentCursor;
    s.currentCursor = hCursor;
    if ((previous != nullptr) != (hCursor != nullptr)) s.backend->SetCursorVisible(hCursor != nullptr);
    return previous;
}

HCURSOR WINAPI GetCursor(void) {
    EnsureStarted();
    return S().currentCursor;
}

}  // extern "C"
