// Mouse capture, the thread's view of the keyboard, and the parent test.
#include "session/layer_internal.h"

using namespace layer;

extern "C" {

HWND WINAPI SetCapture(HWND hWnd) {
    EnsureStarted();
    State &s = S();
    if (hWnd && !FindWindowRecord(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    HWND previous = s.capture;
    if (previous == hWnd) return previous;
    s.capture = hWnd;
    // The window that loses the mouse hears who took it.
    if (previous && FindWindowRecord(previous)) SendMessageA(previous, WM_CAPTURECHANGED, 0, (LPARAM)hWnd);
    return previous;
}

BOOL WINAPI ReleaseCapture(void) {
    EnsureStarted();
    State &s = S();
    HWND previous = s.capture;
    s.capture = nullptr;
    if (previous && FindWindowRecord(previous)) SendMessageA(previous, WM_CAPTURECHANGED, 0, 0);
    return TRUE;
}

HWND WINAPI GetCapture(void) {
    EnsureStarted();
    return S().capture;
}

SHORT WINAPI GetKeyState(int nVirtKey) {
    EnsureStarted();
    // As of the last key message taken from the queue, not this instant.
    return S().threadKeyDown[nVirtKey & 0xFF] ? (SHORT)0x8000 : (SHORT)0;
}

BOOL WINAPI IsChild(HWND hWndParent, HWND hWnd) {
    EnsureStarted();
    return IsChildOf(hWndParent, hWnd) ? TRUE : FALSE;
}

}  // extern "C"
