// DefWindowProcA: what a window does with a message its procedure passes on.
#include <algorithm>
#include <cstring>

#include "gdi/gdi_internal.h"
#include "session/layer_internal.h"

namespace layer {

static bool IsChildWindow(const Window *w) { return (w->style & WS_CHILD) && w->parent; }

static void StoreText(HWND hwnd, LPCSTR text) {
    Window *w = FindWindowRecord(hwnd);
    if (!w) return;
    w->title = (text && !IS_INTRESOURCE(text)) ? text : "";
    S().backend->SetNativeTitle((uintptr_t)hwnd, w->title);
}

static LRESULT EraseBackground(HWND hwnd, HDC hdc) {
    Window *w = FindWindowRecord(hwnd);
    if (!w || !w->cls || !w->cls->background) return 0;
    DeviceContext *dc = DcFromHandle(hdc);
    if (!dc) return 0;
    // The whole client, as far as the DC's clipping lets it: during
    // BeginPaint that is exactly the update region.
    RECT all = {0, 0, w->client.right - w->client.left, w->client.bottom - w->client.top};
    FillRect(hdc, &all, w->cls->background);
    return 1;
}

}  // namespace layer

using namespace layer;

extern "C" LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    EnsureStarted();
    Window *w = FindWindowRecord(hWnd);
    if (!w) return 0;
    switch (Msg) {
    case WM_NCCREATE: {
        const CREATESTRUCTA *cs = (const CREATESTRUCTA *)lParam;
        if (cs) StoreText(hWnd, cs->lpszName);
        return TRUE;
    }
    case WM_SETTEXT:
        StoreText(hWnd, (LPCSTR)lParam);
        return TRUE;
    case WM_GETTEXT: {
        char *buffer = (char *)lParam;
        if (!buffer || wParam == 0) return 0;
        size_t n = std::min(w->title.size(), (size_t)wParam - 1);
        std::memcpy(buffer, w->title.data(), n);
        buffer[n] = '\0';
        return (LRESULT)n;
    }
    case WM_GETTEXTLENGTH:
        return (LRESULT)w->title.size();
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        if (BeginPaint(hWnd, &ps)) EndPaint(hWnd, &ps);
        return 0;
    }
    case WM_ERASEBKGND:
        return EraseBackground(hWnd, (HDC)wParam);
    case WM_SETCURSOR: {
        // A child lets its parent choose first.
        if (IsChildWindow(w)) {
            HWND parent = w->parent;
            if (SendMessageA(parent, WM_SETCURSOR, wParam, lParam)) return TRUE;
            if (!(w = FindWindowRecord(hWnd))) return FALSE;
        }
        if ((short)LOWORD(lParam) == HTCLIENT && w->cls && w->cls->cursor) {
            SetCursor(w->cls->cursor);
            return TRUE;
        }
        return FALSE;
    }
    case WM_MOUSEACTIVATE:
        if (IsChildWindow(w)) {
            LRESULT r = SendMessageA(w->parent, WM_MOUSEACTIVATE, wParam, lParam);
            if (r) return r;
        }
        return MA_ACTIVATE;
    case WM_NCHITTEST:
        return HTCLIENT;
    case WM_NCACTIVATE:
        return TRUE;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) SetFocus(hWnd);
        return 0;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) SendMessageA(hWnd, WM_CLOSE, 0, 0);
        return 0;
    case WM_SYSKEYDOWN:
        // Alt+F4 asks the top-level window to close, unless its class forbids it.
        if ((HIWORD(lParam) & 0x2000) && wParam == VK_F4) {
            HWND top = RootOf(hWnd);
            Window *t = FindWindowRecord(top);
            if (t && !(t->cls && (t->cls->style & CS_NOCLOSE))) PostMessageA(top, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        return 0;
    case WM_CONTEXTMENU:
        if (IsChildWindow(w)) SendMessageA(w->parent, Msg, wParam, lParam);
        return 0;
    case WM_HELP: {
        HWND parent = GetParent(hWnd);
        if (parent && FindWindowRecord(parent)) SendMessageA(parent, Msg, wParam, lParam);
        return 0;
    }
    }
    return 0;
}
