// Window data: the text, the class name, the styles, the procedure, the
// user data and the extra bytes a class asks for (Get/SetWindowLongPtrA).
#include <algorithm>
#include <cstring>
#include <string>

#include "session/layer_internal.h"

using namespace layer;

namespace {

// Where a `T` at byte `index` of the extra bytes the window's class asked
// for lies; null, with ERROR_INVALID_INDEX, when it does not fit in them.
template <typename T>
uint8_t *ExtraAt(Window *w, int index) {
    if ((size_t)index + sizeof(T) > w->extra.size()) {
        SetLastError(ERROR_INVALID_INDEX);
        return nullptr;
    }
    return w->extra.data() + index;
}

}  // namespace

extern "C" {

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    if (!ValidWindow(hWnd)) return FALSE;
    return (BOOL)SendMessageA(hWnd, WM_SETTEXT, 0, (LPARAM)lpString);
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
    if (lpString && nMaxCount > 0) lpString[0] = '\0';
    if (!ValidWindow(hWnd)) return 0;
    if (!lpString || nMaxCount <= 0) return 0;
    return (int)SendMessageA(hWnd, WM_GETTEXT, (WPARAM)nMaxCount, (LPARAM)lpString);
}

int WINAPI GetClassNameA(HWND hWnd, LPSTR lpClassName, int nMaxCount) {
    Window *w = ValidWindow(hWnd);
    if (!w) return 0;
    if (!lpClassName || nMaxCount <= 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::string name = w->desktop ? "#32769" : w->cls->name;
    size_t n = std::min(name.size(), (size_t)nMaxCount - 1);
    std::memcpy(lpClassName, name.data(), n);
    lpClassName[n] = '\0';
    return (int)n;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex) {
    Window *w = ValidWindow(hWnd);
    if (!w) return 0;
    if (nIndex >= 0) {
        const uint8_t *at = ExtraAt<LONG_PTR>(w, nIndex);
        if (!at) return 0;
        LONG_PTR v;
        std::memcpy(&v, at, sizeof v);
        return v;
    }
    switch (nIndex) {
    case GWL_STYLE: return (LONG_PTR)(LONG)w->style;
    case GWL_EXSTYLE: return (LONG_PTR)(LONG)w->exStyle;
    case GWLP_WNDPROC: return (LONG_PTR)w->proc;
    case GWLP_USERDATA: return w->userData;
    case GWLP_ID: return w->id;
    case GWLP_HINSTANCE: return (LONG_PTR)w->instance;
    case GWLP_HWNDPARENT:
        if (w->style & WS_CHILD) return (LONG_PTR)(w->parent ? w->parent : (HWND)w->foreignParent);
        return (LONG_PTR)w->owner;
    }
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
}

LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex) {
    if (nIndex >= 0) {
        Window *w = ValidWindow(hWnd);
        if (!w) return 0;
        const uint8_t *at = ExtraAt<LONG>(w, nIndex);
        if (!at) return 0;
        LONG v;
        std::memcpy(&v, at, sizeof v);
        return v;
    }
    return (LONG)GetWindowLongPtrA(hWnd, nIndex);
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
    Window *w = ValidWindow(hWnd);
    if (!w) return 0;
    if (nIndex >= 0) {
        uint8_t *at = ExtraAt<LONG_PTR>(w, nIndex);
        if (!at) return 0;
        LONG_PTR old;
        std::memcpy(&old, at, sizeof old);
        std::memcpy(at, &dwNewLong, sizeof dwNewLong);
        return old;
    }
    switch (nIndex) {
    case GWL_STYLE:
    case GWL_EXSTYLE: {
        STYLESTRUCT ss;
        ss.styleOld = nIndex == GWL_STYLE ? w->style : w->exStyle;
        ss.styleNew = (DWORD)dwNewLong;
        SendMessageA(hWnd, WM_STYLECHANGING, (WPARAM)nIndex, (LPARAM)&ss);
        if (!(w = FindWindowRecord(hWnd))) return 0;
        DWORD old = nIndex == GWL_STYLE ? w->style : w->exStyle;
        // WS_CHILD is fixed once the window exists: the tree does not change.
        if (nIndex == GWL_STYLE)
            w->style = (ss.styleNew & ~WS_CHILD) | (w->style & WS_CHILD);
        else
            w->exStyle = ss.styleNew;
        ss.styleOld = old;
        SendMessageA(hWnd, WM_STYLECHANGED, (WPARAM)nIndex, (LPARAM)&ss);
        return (LONG_PTR)(LONG)old;
    }
    case GWLP_WNDPROC: {
        LONG_PTR old = (LONG_PTR)w->proc;
        w->proc = (WNDPROC)dwNewLong;
        return old;
    }
    case GWLP_USERDATA: {
        LONG_PTR old = w->userData;
        w->userData = dwNewLong;
        return old;
    }
    case GWLP_ID: {
        LONG_PTR old = w->id;
        w->id = dwNewLong;
        return old;
    }
    case GWLP_HINSTANCE: {
        LONG_PTR old = (LONG_PTR)w->instance;
        w->instance = (HINSTANCE)dwNewLong;
        return old;
    }
    case GWLP_HWNDPARENT: {
        if (w->style & WS_CHILD) {
            // Moving a child to another parent is not supported; report the
            // current parent and change nothing.
            return (LONG_PTR)w->parent;
        }
        HWND newOwner = (HWND)dwNewLong;
        if (newOwner && !FindWindowRecord(newOwner)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        LONG_PTR old = (LONG_PTR)w->owner;
        w->owner = newOwner ? RootOf(newOwner) : nullptr;
        if (w->owner == hWnd) w->owner = nullptr;
        return old;
    }
    }
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
}

LRESULT WINAPI CallWindowProcA(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (!lpPrevWndFunc) return 0;
    return lpPrevWndFunc(hWnd, Msg, wParam, lParam);
}

}  // extern "C"
