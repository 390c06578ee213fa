// Windows: creation and destruction with their message sequences, the
// parent/owner tree, z-order, showing, and where they are (activation and
// focus in user/focus.cpp, window data in user/window_data.cpp).
//
// A window procedure may do anything, including destroying the window it is
// called for. So nothing here keeps a Window pointer across a sent message:
// after every SendMessageA the record is looked up again by its handle.
#include <algorithm>
#include <cstring>

#include "session/layer_internal.h"

namespace layer {

Window *FindWindowRecord(HWND hwnd) {
    if (!hwnd) return nullptr;
    auto &windows = S().windows;
    auto it = windows.find((uintptr_t)hwnd);
    if (it == windows.end() || it->second->ncDestroyed) return nullptr;
    return it->second.get();
}

Window *ValidWindow(HWND hwnd) {
    EnsureStarted();
    Window *w = FindWindowRecord(hwnd);
    if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return w;
}

bool IsChildOf(HWND parent, HWND hwnd) {
    Window *w = FindWindowRecord(hwnd);
    while (w && w->parent) {
        if (w->parent == parent) return true;
        w = FindWindowRecord(w->parent);
    }
    return false;
}

HWND RootOf(HWND hwnd) {
    Window *w = FindWindowRecord(hwnd);
    while (w && w->parent) {
        Window *p = FindWindowRecord(w->parent);
        if (!p) break;
        w = p;
    }
    return w ? w->handle : nullptr;
}

bool IsVisibleChain(HWND hwnd) {
    for (Window *w = FindWindowRecord(hwnd); w; w = w->parent ? FindWindowRecord(w->parent) : nullptr)
        if (!(w->style & WS_VISIBLE)) return false;
    return FindWindowRecord(hwnd) != nullptr;
}

bool IsEnabledChain(HWND hwnd) {
    for (Window *w = FindWindowRecord(hwnd); w; w = w->parent ? FindWindowRecord(w->parent) : nullptr)
        if (w->style & WS_DISABLED) return false;
    return FindWindowRecord(hwnd) != nullptr;
}

POINT ClientOrigin(const Window *w) {
    POINT p = {w->rect.left + w->client.left, w->rect.top + w->client.top};
    const Window *cur = w;
    while (cur->parent) {
        const Window *parent = FindWindowRecord(cur->parent);
        if (!parent) break;
        p.x += parent->rect.left + parent->client.left;
        p.y += parent->rect.top + parent->client.top;
        cur = parent;
    }
    if (!cur->parent && cur->foreignParent) {
        RECT r;
        if (S().backend->ForeignWindowRect(cur->foreignParent, &r)) {
            p.x += r.left;
            p.y += r.top;
        }
    }
    return p;
}

void SyncNativeGeometry(HWND hwnd) {
    Window *w = FindWindowRecord(hwnd);
    if (!w || w->desktop) return;
    // The native window shows the client surface, so it sits where the
    // client area is: inside whatever non-client part the window has.
    RECT area = {w->rect.left + w->client.left, w->rect.top + w->client.top, 0, 0};
    area.right = area.left + w->surfaceWidth;
    area.bottom = area.top + w->surfaceHeight;
    S().backend->PlaceNativeWindow((uintptr_t)hwnd, area);
}

LRESULT CallProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window *w = FindWindowRecord(hwnd);
    if (!w || !w->proc) return 0;
    return w->proc(hwnd, msg, wParam, lParam);
}

// ---- z-order -----------------------------------------------------------------

static std::vector<HWND> &SiblingList(Window *w) {
    if (w->parent) {
        Window *p = FindWindowRecord(w->parent);
        if (p) return p->children;
    }
    return S().topLevels;
}

static void Unlink(Window *w) {
    auto &list = SiblingList(w);
    list.erase(std::remove(list.begin(), list.end(), w->handle), list.end());
}

void BringToTop(Window *w) {
    auto &list = SiblingList(w);
    list.erase(std::remove(list.begin(), list.end(), w->handle), list.end());
    auto pos = list.begin();
    if (!w->parent && !(w->exStyle & WS_EX_TOPMOST)) {
        while (pos != list.end()) {
            Window *other = FindWindowRecord(*pos);
            if (!other || !(other->exStyle & WS_EX_TOPMOST)) break;
            ++pos;
        }
    }
    list.insert(pos, w->handle);
}

HWND WindowFromScreenPoint(POINT pt) {
    State &s = S();
    for (HWND top : s.topLevels) {
        Window *w = FindWindowRecord(top);
        if (!w || !(w->style & WS_VISIBLE)) continue;
        // A window inside another process's window has its rectangle in that
        // window's coordinates, not the screen's.
        RECT onScreen = w->rect;
        if (w->foreignParent) {
            POINT origin = ClientOrigin(w);
            onScreen = {origin.x - w->client.left, origin.y - w->client.top, 0, 0};
            onScreen.right = onScreen.left + (w->rect.right - w->rect.left);
            onScreen.bottom = onScreen.top + (w->rect.bottom - w->rect.top);
        }
        if (!RectContains(onScreen, pt.x, pt.y)) continue;
        // Walk down to the deepest visible child under the point.
        for (;;) {
            POINT origin = ClientOrigin(w);
            Window *hit = nullptr;
            for (HWND c : w->children) {
                Window *child = FindWindowRecord(c);
                if (child && (child->style & WS_VISIBLE) &&
                    RectContains(child->rect, pt.x - origin.x, pt.y - origin.y)) {
                    hit = child;
                    break;
                }
            }
            if (!hit) return w->handle;
            w = hit;
        }
    }
    return nullptr;
}

// ---- show ---------------------------------------------------------------------------

static void HideWindowInternal(HWND hwnd, bool sendShowWindow) {
    if (sendShowWindow) SendMessageA(hwnd, WM_SHOWWINDOW, FALSE, 0);
    Window *w = FindWindowRecord(hwnd);
    if (!w || !(w->style & WS_VISIBLE)) return;
    w->style &= ~WS_VISIBLE;
    w->update.Clear();
    w->erase = false;
    S().backend->ShowNativeWindow((uintptr_t)hwnd, false);
    State &s = S();
    bool isChild = w->parent != nullptr;
    HWND parent = w->parent;
    if (!isChild && s.active == hwnd) {
        DeactivateApp();
    } else if (isChild && s.focus && (s.focus == hwnd || IsChildOf(hwnd, s.focus))) {
        // A hidden child passes the focus up to its parent.
        SetFocusInternal(parent);
    }
}

static BOOL ShowWindowInternal(HWND hwnd, int cmd) {
    Window *w = FindWindowRecord(hwnd);
    if (!w) return FALSE;
    bool wasVisible = (w->style & WS_VISIBLE) != 0;
    if (cmd == SW_HIDE) {
        if (wasVisible) HideWindowInternal(hwnd, true);
        return wasVisible;
    }
    if (!wasVisible) {
        SendMessageA(hwnd, WM_SHOWWINDOW, TRUE, 0);
        w = FindWindowRecord(hwnd);
        if (!w) return FALSE;
        w->style |= WS_VISIBLE;
        S().backend->ShowNativeWindow((uintptr_t)hwnd, true);
        InvalidateInternal(hwnd, nullptr, true, true);
    }
    bool activates = cmd != SW_SHOWNA && cmd != SW_SHOWNOACTIVATE && cmd != SW_MINIMIZE && cmd != 7 /* SW_SHOWMINNOACTIVE */;
    w = FindWindowRecord(hwnd);
    if (w && activates && !w->parent && !(w->style & WS_CHILD)) ActivateWindow(hwnd);
    return wasVisible;
}

// ---- destruction ----------------------------------------------------------------------

static void SendDestroyMessages(HWND hwnd) {
    SendMessageA(hwnd, WM_DESTROY, 0, 0);
    Window *w = FindWindowRecord(hwnd);
    if (!w) return;
    std::vector<HWND> children = w->children;
    for (HWND c : children)
        if (FindWindowRecord(c)) SendDestroyMessages(c);
}

static void FreeWindow(HWND hwnd) {
    Window *w = FindWindowRecord(hwnd);
    if (!w) return;
    std::vector<HWND> children = w->children;
    for (HWND c : children) FreeWindow(c);
    SendMessageA(hwnd, WM_NCDESTROY, 0, 0);
    w = FindWindowRecord(hwnd);
    if (!w) return;
    State &s = S();
    KillTimersOf(hwnd);
    RemoveMessagesOf(hwnd);
    FreeWindowDCs(hwnd);
    Unlink(w);
    w->ncDestroyed = true;
    if (w->cls) w->cls->windows--;
    if (s.active == hwnd) s.active = nullptr;
    if (s.foreground == hwnd) s.foreground = nullptr;
    if (s.focus == hwnd) s.focus = nullptr;
    if (s.capture == hwnd) s.capture = nullptr;
    if (s.lastClickWindow == hwnd) s.lastClickWindow = nullptr;
    s.dirtyWindows.erase((uintptr_t)hwnd);
    s.dirtyRects.erase((uintptr_t)hwnd);
    s.backend->DestroyNativeWindow((uintptr_t)hwnd);
    // Top-level windows owned by this one lose their owner with it.
    for (auto &entry : s.windows)
        if (entry.second->owner == hwnd) entry.second->owner = nullptr;
    s.windows.erase((uintptr_t)hwnd);
}

void DestroyAllWindows() {
    State &s = S();
    for (auto &entry : s.windows)
        if (!entry.second->desktop && !entry.second->ncDestroyed) s.backend->DestroyNativeWindow(entry.first);
    s.windows.clear();
    s.topLevels.clear();
}

// ---- creation -------------------------------------------------------------------------

void SizeSurface(Window *w) {
    // Beyond this a window cannot be meant seriously; its surface stops there.
    constexpr int kMaxSurfaceSide = 8192;
    w->surfaceWidth = std::min<int>(w->client.right - w->client.left, kMaxSurfaceSide);
    w->surfaceHeight = std::min<int>(w->client.bottom - w->client.top, kMaxSurfaceSide);
    w->pixels = nullptr;
    w->ownPixels.clear();
    w->ownPixels.shrink_to_fit();
    const size_t count = (size_t)w->surfaceWidth * (size_t)w->surfaceHeight;
    if (count) {
        w->ownPixels.assign(count, 0);
        w->pixels = w->ownPixels.data();
    }
    w->shown.reset();
}

}  // namespace layer

using namespace layer;

extern "C" {

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
    EnsureStarted();
    State &s = S();
    if (TakeFault("CreateWindowExA")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HWND parent = nullptr, owner = nullptr;
    uintptr_t foreignParent = 0;
    if (hWndParent && hWndParent != HWND_MESSAGE) {
        Window *p = FindWindowRecord(hWndParent);
        if (!p) {
            if (!s.backend->IsForeignWindow((uintptr_t)hWndParent)) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return nullptr;
            }
            if (dwStyle & WS_CHILD) foreignParent = (uintptr_t)hWndParent;
        } else if (!p->desktop) {
            if (dwStyle & WS_CHILD)
                parent = hWndParent;
            else
                owner = RootOf(hWndParent);  // the owner is always a top-level window
        }
    } else if ((dwStyle & WS_CHILD) && hWndParent != HWND_MESSAGE) {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return nullptr;
    }
    const WindowClass *constCls = FindClass(lpClassName, hInstance);
    if (!constCls) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    WindowClass *cls = const_cast<WindowClass *>(constCls);

    bool overlapped = !(dwStyle & (WS_POPUP | WS_CHILD));
    if (X == CW_USEDEFAULT) {
        if (overlapped) {
            X = s.screenWidth / 16;
            Y = s.screenHeight / 16;
        } else {
            X = Y = 0;
        }
    }
    if (nWidth == CW_USEDEFAULT) {
        if (overlapped) {
            nWidth = s.screenWidth * 3 / 4;
            nHeight = s.screenHeight * 3 / 4;
        } else {
            nWidth = nHeight = 0;
        }
    }
    int width = std::max(nWidth, 0), height = std::max(nHeight, 0);

    DWORD style = dwStyle & ~WS_VISIBLE;  // visible only once shown below
    if (!(style & WS_CHILD)) style |= WS_CLIPSIBLINGS;
    if (overlapped) style |= WS_CAPTION;

    NativeWindowRequest request;
    request.parent = parent ? (uintptr_t)parent : foreignParent;
    request.owner = (uintptr_t)owner;
    request.rect = {X, Y, X + width, Y + height};
    request.style = style;
    request.exStyle = dwExStyle;
    request.className = cls->name;
    request.title = (lpWindowName && !IS_INTRESOURCE(lpWindowName)) ? lpWindowName : "";
    uintptr_t native = s.backend->CreateNativeWindow(request);
    if (!native || s.windows.count(native)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HWND hwnd = (HWND)native;
    auto rec = std::make_unique<Window>();
    Window *w = rec.get();
    w->handle = hwnd;
    w->cls = cls;
    w->style = style;
    w->exStyle = dwExStyle;
    w->proc = cls->proc;
    w->instance = hInstance;
    w->parent = parent;
    w->owner = owner;
    w->foreignParent = foreignParent;
    w->id = (LONG_PTR)hMenu;
    w->extra.assign((size_t)cls->wndExtra, 0);
    w->rect = request.rect;
    w->client = {0, 0, width, height};
    s.windows[native] = std::move(rec);
    cls->windows++;
    // A new child goes below its siblings, so that creation order is z-order
    // and tab order, as dialogs rely on; a top-level window goes on top.
    if (parent)
        SiblingList(w).push_back(hwnd);
    else
        BringToTop(w);

    CREATESTRUCTA cs;
    cs.lpCreateParams = lpParam;
    cs.hInstance = hInstance;
    cs.hMenu = hMenu;
    cs.hwndParent = hWndParent;
    cs.cy = nHeight;
    cs.cx = nWidth;
    cs.y = Y;
    cs.x = X;
    cs.style = (LONG)dwStyle;
    cs.lpszName = lpWindowName;
    cs.lpszClass = lpClassName;
    cs.dwExStyle = dwExStyle;

    if ((dwStyle & WS_THICKFRAME) || overlapped) {
        MINMAXINFO mmi;
        std::memset(&mmi, 0, sizeof mmi);
        mmi.ptMaxSize = {s.screenWidth, s.screenHeight};
        mmi.ptMaxTrackSize = {s.screenWidth, s.screenHeight};
        SendMessageA(hwnd, WM_GETMINMAXINFO, 0, (LPARAM)&mmi);
        if (!FindWindowRecord(hwnd)) return nullptr;
    }

    if (!SendMessageA(hwnd, WM_NCCREATE, 0, (LPARAM)&cs)) {
        FreeWindow(hwnd);
        return nullptr;
    }
    if (!(w = FindWindowRecord(hwnd))) return nullptr;

    RECT rc = w->rect;
    SendMessageA(hwnd, WM_NCCALCSIZE, FALSE, (LPARAM)&rc);
    if (!(w = FindWindowRecord(hwnd))) return nullptr;
    RECT client = {rc.left - w->rect.left, rc.top - w->rect.top, rc.right - w->rect.left, rc.bottom - w->rect.top};
    if (RectIsEmpty(client)) client = {0, 0, 0, 0};
    w->client = client;
    SizeSurface(w);
    if (cls->style & (CS_OWNDC | CS_CLASSDC)) w->ownDC = CreateWindowDC(hwnd, true);

    if (SendMessageA(hwnd, WM_CREATE, 0, (LPARAM)&cs) == -1) {
        if (FindWindowRecord(hwnd)) DestroyWindow(hwnd);
        return nullptr;
    }
    if (!(w = FindWindowRecord(hwnd))) return nullptr;
    // Only now is the client area known, and a control may have sized
    // itself while it was created (a picture to its bitmap).
    SyncNativeGeometry(hwnd);
    int cw = w->client.right - w->client.left, ch = w->client.bottom - w->client.top;
    POINT clientPos = {w->rect.left + w->client.left, w->rect.top + w->client.top};
    SendMessageA(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(cw, ch));
    if (!FindWindowRecord(hwnd)) return nullptr;
    SendMessageA(hwnd, WM_MOVE, 0, MAKELPARAM(clientPos.x, clientPos.y));
    if (!(w = FindWindowRecord(hwnd))) return nullptr;
    if (parent && !(dwExStyle & WS_EX_NOPARENTNOTIFY) && FindWindowRecord(parent)) {
        SendMessageA(parent, WM_PARENTNOTIFY, MAKEWPARAM(WM_CREATE, (WORD)(uintptr_t)hMenu), (LPARAM)hwnd);
        if (!FindWindowRecord(hwnd)) return nullptr;
    }
    if (dwStyle & WS_VISIBLE) {
        ShowWindowInternal(hwnd, SW_SHOW);
        if (!FindWindowRecord(hwnd)) return nullptr;
    }
    return hwnd;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    Window *w = ValidWindow(hWnd);
    if (!w) return FALSE;
    if (w->desktop) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // A procedure that destroys its window again from WM_DESTROY gets the
    // same answer as the first call will give.
    if (w->destroying) return TRUE;
    w->destroying = true;
    bool isChild = w->parent != nullptr;
    HWND parent = w->parent;
    if (isChild && !(w->exStyle & WS_EX_NOPARENTNOTIFY) && FindWindowRecord(parent)) {
        SendMessageA(parent, WM_PARENTNOTIFY, MAKEWPARAM(WM_DESTROY, (WORD)w->id), (LPARAM)hWnd);
        if (!(w = FindWindowRecord(hWnd))) return TRUE;
    }
    // Only child windows hear WM_SHOWWINDOW on their way out.
    if (w->style & WS_VISIBLE) HideWindowInternal(hWnd, isChild);
    if (!FindWindowRecord(hWnd)) return TRUE;
    State &s = S();
    if (s.active == hWnd) DeactivateApp();
    if (s.focus && (s.focus == hWnd || IsChildOf(hWnd, s.focus))) s.focus = nullptr;
    std::vector<HWND> owned;
    for (auto &entry : s.windows)
        if (entry.second->owner == hWnd && !entry.second->ncDestroyed) owned.push_back(entry.second->handle);
    for (HWND o : owned)
        if (FindWindowRecord(o)) DestroyWindow(o);
    if (!FindWindowRecord(hWnd)) return TRUE;
    SendDestroyMessages(hWnd);
    FreeWindow(hWnd);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) {
    EnsureStarted();
    if (FindWindowRecord(hWnd)) return TRUE;
    return hWnd && S().backend->IsForeignWindow((uintptr_t)hWnd);
}

BOOL WINAPI IsWindowVisible(HWND hWnd) {
    EnsureStarted();
    return IsVisibleChain(hWnd);
}

BOOL WINAPI IsWindowEnabled(HWND hWnd) {
    Window *w = ValidWindow(hWnd);
    return w && !(w->style & WS_DISABLED);
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
    Window *w = ValidWindow(hWnd);
    if (!w) return FALSE;
    BOOL wasDisabled = (w->style & WS_DISABLED) != 0;
    if (bEnable && wasDisabled) {
        w->style &= ~WS_DISABLED;
        SendMessageA(hWnd, WM_ENABLE, TRUE, 0);
    } else if (!bEnable && !wasDisabled) {
        w->style |= WS_DISABLED;
        State &s = S();
        if (s.focus && (s.focus == hWnd || IsChildOf(hWnd, s.focus))) SetFocusInternal(nullptr);
        if (FindWindowRecord(hWnd)) SendMessageA(hWnd, WM_ENABLE, FALSE, 0);
    }
    return wasDisabled;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
    Window *w = ValidWindow(hWnd);
    if (!w || w->desktop) return FALSE;
    return ShowWindowInternal(hWnd, nCmdShow);
}

HWND WINAPI GetParent(HWND hWnd) {
    Window *w = ValidWindow(hWnd);
    if (!w) return nullptr;
    if (w->style & WS_CHILD) {
        if (w->parent) return w->parent;
        if (w->foreignParent) return (HWND)w->foreignParent;
        return nullptr;
    }
    // A popup reports its owner; other top-level windows report nothing.
    if (w->style & WS_POPUP) return w->owner;
    return nullptr;
}

HWND WINAPI GetDesktopWindow(void) {
    EnsureStarted();
    return S().desktop;
}

HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
    EnsureStarted();
    State &s = S();
    bool classKnown = !lpClassName;
    if (lpClassName) {
        for (auto &c : s.classes) {
            if (IS_INTRESOURCE(lpClassName) ? c->atom == (ATOM)(uintptr_t)lpClassName
                                            : EqualNoCase(c->name, lpClassName))
                classKnown = true;
        }
    }
    if (classKnown) {
        for (HWND top : s.topLevels) {
            Window *w = FindWindowRecord(top);
            if (!w) continue;
            if (lpClassName) {
                if (IS_INTRESOURCE(lpClassName) ? w->cls->atom != (ATOM)(uintptr_t)lpClassName
                                                : !EqualNoCase(w->cls->name, lpClassName))
                    continue;
            }
            if (lpWindowName && !EqualNoCase(w->title, lpWindowName)) continue;
            return top;
        }
    }
    // On Windows class names are shared by every process; a saver started
    // by another process is found through the display.
    if (!lpClassName || !IS_INTRESOURCE(lpClassName)) {
        uintptr_t foreign = s.backend->FindForeignWindow(lpClassName, lpWindowName);
        if (foreign) return (HWND)foreign;
    }
    if (!classKnown) SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
    return nullptr;
}

// Both rectangle queries refuse a missing output the same way.
static BOOL StoreRect(const RECT &r, LPRECT out) {
    if (!out) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    *out = r;
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
    EnsureStarted();
    Window *w = FindWindowRecord(hWnd);
    RECT r;
    if (w) {
        r = {0, 0, w->client.right - w->client.left, w->client.bottom - w->client.top};
    } else if (hWnd && S().backend->ForeignWindowRect((uintptr_t)hWnd, &r)) {
        r = {0, 0, r.right - r.left, r.bottom - r.top};
    } else {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return StoreRect(r, lpRect);
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
    EnsureStarted();
    Window *w = FindWindowRecord(hWnd);
    RECT r;
    if (w) {
        POINT origin = ClientOrigin(w);
        r = {origin.x - w->client.left, origin.y - w->client.top, 0, 0};
        r.right = r.left + (w->rect.right - w->rect.left);
        r.bottom = r.top + (w->rect.bottom - w->rect.top);
    } else if (!hWnd || !S().backend->ForeignWindowRect((uintptr_t)hWnd, &r)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return StoreRect(r, lpRect);
}

}  // extern "C"
