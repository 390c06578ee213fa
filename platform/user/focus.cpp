// The active window, the foreground window and the keyboard focus, with
// the messages each change sends (WM_NCACTIVATE, WM_ACTIVATE,
// WM_ACTIVATEAPP, WM_KILLFOCUS, WM_SETFOCUS).
//
// Like everything that sends messages, nothing here keeps a Window pointer
// across one: the record is looked up again by its handle after each.
#include "session/layer_internal.h"

namespace layer {

HWND SetFocusInternal(HWND hwnd) {
    State &s = S();
    HWND previous = s.focus;
    if (previous == hwnd) return previous;
    s.focus = hwnd;
    if (previous && FindWindowRecord(previous)) SendMessageA(previous, WM_KILLFOCUS, (WPARAM)hwnd, 0);
    if (hwnd && FindWindowRecord(hwnd) && s.focus == hwnd) SendMessageA(hwnd, WM_SETFOCUS, (WPARAM)previous, 0);
    return previous;
}

static void SendActivateApp(BOOL active) {
    std::vector<HWND> tops = S().topLevels;
    for (HWND t : tops)
        if (FindWindowRecord(t)) SendMessageA(t, WM_ACTIVATEAPP, active, 0);
}

void ActivateWindow(HWND top) {
    State &s = S();
    Window *w = FindWindowRecord(top);
    if (!w || w->desktop) return;
    s.foreground = top;
    s.foreignForeground = 0;
    BringToTop(w);
    HWND previous = s.active;
    if (previous == top) return;
    if (previous && FindWindowRecord(previous)) {
        SendMessageA(previous, WM_NCACTIVATE, FALSE, (LPARAM)top);
        SendMessageA(previous, WM_ACTIVATE, WA_INACTIVE, (LPARAM)top);
    }
    s.active = top;
    s.backend->FocusNativeWindow((uintptr_t)top);
    if (!previous) SendActivateApp(TRUE);
    if (!FindWindowRecord(top) || s.active != top) return;
    SendMessageA(top, WM_NCACTIVATE, TRUE, (LPARAM)previous);
    if (!FindWindowRecord(top) || s.active != top) return;
    // DefWindowProc answers this by giving the window the focus.
    SendMessageA(top, WM_ACTIVATE, WA_ACTIVE, (LPARAM)previous);
}

void DeactivateApp() {
    State &s = S();
    HWND previous = s.active;
    if (!previous) return;
    s.active = nullptr;
    if (s.foreground == previous) s.foreground = nullptr;
    if (FindWindowRecord(previous)) {
        SendMessageA(previous, WM_NCACTIVATE, FALSE, 0);
        SendMessageA(previous, WM_ACTIVATE, WA_INACTIVE, 0);
    }
    SendActivateApp(FALSE);
    if (s.focus) SetFocusInternal(nullptr);
}

}  // namespace layer

using namespace layer;

extern "C" {

HWND WINAPI GetForegroundWindow(void) {
    EnsureStarted();
    State &s = S();
    if (s.foreground) return s.foreground;
    return (HWND)s.foreignForeground;
}

BOOL WINAPI SetForegroundWindow(HWND hWnd) {
    EnsureStarted();
    State &s = S();
    Window *w = FindWindowRecord(hWnd);
    if (!w) {
        if (hWnd && s.backend->IsForeignWindow((uintptr_t)hWnd)) {
            s.backend->RaiseNativeWindow((uintptr_t)hWnd);
            DeactivateApp();
            s.foreignForeground = (uintptr_t)hWnd;
            return TRUE;
        }
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (w->desktop) return FALSE;
    HWND top = RootOf(hWnd);
    ActivateWindow(top);
    if (FindWindowRecord(top)) s.backend->RaiseNativeWindow((uintptr_t)top);
    return TRUE;
}

HWND WINAPI GetActiveWindow(void) {
    EnsureStarted();
    return S().active;
}

HWND WINAPI GetFocus(void) {
    EnsureStarted();
    return S().focus;
}

HWND WINAPI SetFocus(HWND hWnd) {
    EnsureStarted();
    State &s = S();
    if (!hWnd) return SetFocusInternal(nullptr);
    Window *w = ValidWindow(hWnd);
    if (!w || w->desktop) return nullptr;
    if (!IsEnabledChain(hWnd)) return nullptr;
    HWND previous = s.focus;
    HWND top = RootOf(hWnd);
    if (s.active != top) {
        ActivateWindow(top);
        if (!FindWindowRecord(hWnd) || s.active != top) return nullptr;
    }
    SetFocusInternal(hWnd);
    return previous;
}

}  // extern "C"
