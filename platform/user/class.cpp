// Window classes. Names compare without case; a class belongs to the module
// that registered it unless it is global.
#include <cstring>

#include "session/layer_internal.h"

namespace layer {

static HINSTANCE ProgramInstance() { return GetModuleHandleA(nullptr); }

static bool NameMatches(const WindowClass &c, LPCSTR name) {
    if (IS_INTRESOURCE(name)) return c.atom == (ATOM)(uintptr_t)name;
    return EqualNoCase(c.name, name);
}

static WindowClass *Lookup(LPCSTR name, HINSTANCE instance, bool exactInstance) {
    if (!name) return nullptr;
    for (auto &c : S().classes) {
        if (!NameMatches(*c, name)) continue;
        if (exactInstance) {
            if (c->instance == instance) return c.get();
            continue;
        }
        // A null module finds any class; global classes serve every module.
        if (!instance || c->instance == instance || (c->style & CS_GLOBALCLASS)) return c.get();
    }
    return nullptr;
}

const WindowClass *FindClass(LPCSTR name, HINSTANCE instance) { return Lookup(name, instance, false); }

}  // namespace layer

using namespace layer;

extern "C" {

ATOM WINAPI RegisterClassA(const WNDCLASSA *lpWndClass) {
    EnsureStarted();
    if (TakeFault("RegisterClassA")) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    // Names given as atoms cannot be registered: the atom is what
    // registration hands out.
    if (!lpWndClass || IS_INTRESOURCE(lpWndClass->lpszClassName) || !*lpWndClass->lpszClassName ||
        lpWndClass->cbClsExtra < 0 || lpWndClass->cbWndExtra < 0 ||
        lpWndClass->cbClsExtra > 40000 || lpWndClass->cbWndExtra > 40000) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    HINSTANCE instance = lpWndClass->hInstance ? lpWndClass->hInstance : ProgramInstance();
    for (auto &c : S().classes) {
        // A global class name is taken for everybody; a local one per module.
        if (EqualNoCase(c->name, lpWndClass->lpszClassName) &&
            (c->instance == instance || ((c->style | lpWndClass->style) & CS_GLOBALCLASS))) {
            SetLastError(ERROR_CLASS_ALREADY_EXISTS);
            return 0;
        }
    }
    auto c = std::make_unique<WindowClass>();
    c->name = lpWndClass->lpszClassName;
    c->atom = S().nextAtom++;
    c->style = lpWndClass->style;
    c->proc = lpWndClass->lpfnWndProc;
    c->clsExtra = lpWndClass->cbClsExtra;
    c->wndExtra = lpWndClass->cbWndExtra;
    c->instance = instance;
    c->icon = lpWndClass->hIcon;
    c->cursor = lpWndClass->hCursor;
    c->background = lpWndClass->hbrBackground;
    c->menuName = lpWndClass->lpszMenuName;
    ATOM atom = c->atom;
    S().classes.push_back(std::move(c));
    return atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance) {
    EnsureStarted();
    HINSTANCE instance = hInstance ? hInstance : ProgramInstance();
    WindowClass *c = Lookup(lpClassName, instance, true);
    if (!c) {
        for (auto &g : S().classes)
            if ((g->style & CS_GLOBALCLASS) && lpClassName && NameMatches(*g, lpClassName)) c = g.get();
    }
    if (!c) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (c->windows > 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    auto &classes = S().classes;
    for (auto it = classes.begin(); it != classes.end(); ++it) {
        if (it->get() == c) {
            classes.erase(it);
            break;
        }
    }
    return TRUE;
}

BOOL WINAPI GetClassInfoA(HINSTANCE hInstance, LPCSTR lpClassName, LPWNDCLASSA lpWndClass) {
    EnsureStarted();
    const WindowClass *c = FindClass(lpClassName, hInstance);
    if (!c) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (!lpWndClass) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    lpWndClass->style = c->style;
    lpWndClass->lpfnWndProc = c->proc;
    lpWndClass->cbClsExtra = c->clsExtra;
    lpWndClass->cbWndExtra = c->wndExtra;
    lpWndClass->hInstance = hInstance;
    lpWndClass->hIcon = c->icon;
    lpWndClass->hCursor = c->cursor;
    lpWndClass->hbrBackground = c->background;
    lpWndClass->lpszMenuName = c->menuName;
    lpWndClass->lpszClassName = lpClassName;
    // Windows returns the class atom here, which is nonzero.
    return (BOOL)c->atom;
}

}  // extern "C"
