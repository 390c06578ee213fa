// System metrics and parameters, and the system's own icons and cursors.
#include "session/layer_internal.h"

namespace layer {

namespace {

constexpr uintptr_t kCursorBase = 0x00C00000;
constexpr uintptr_t kIconBase = 0x00C80000;

const WORD kSystemCursors[] = {32512, 32513, 32514, 32515, 32516, 32640, 32641, 32642,
                               32643, 32644, 32645, 32646, 32648, 32649, 32650, 32651};
const WORD kSystemIcons[] = {32512, 32513, 32514, 32515, 32516, 32517, 32518};

bool Listed(const WORD *list, size_t count, uintptr_t id) {
    for (size_t i = 0; i < count; ++i)
        if (list[i] == id) return true;
    return false;
}

}  // namespace

bool IsUserIconOrCursor(HANDLE h) {
    uintptr_t v = (uintptr_t)h;
    if (v >= kCursorBase && v < kCursorBase + 0x10000 * 4)
        return Listed(kSystemCursors, sizeof kSystemCursors / sizeof *kSystemCursors, (v - kCursorBase) / 4);
    if (v >= kIconBase && v < kIconBase + 0x10000 * 4)
        return Listed(kSystemIcons, sizeof kSystemIcons / sizeof *kSystemIcons, (v - kIconBase) / 4);
    return false;
}

HCURSOR StockArrowCursor() { return (HCURSOR)(kCursorBase + 32512 * 4); }

}  // namespace layer

using namespace layer;

extern "C" {

int WINAPI GetSystemMetrics(int nIndex) {
    EnsureStarted();
    State &s = S();
    switch (nIndex) {
    case SM_CXSCREEN: return s.screenWidth;
    case SM_CYSCREEN: return s.screenHeight;
    case SM_XVIRTUALSCREEN: return s.virtualScreen.left;
    case SM_YVIRTUALSCREEN: return s.virtualScreen.top;
    case SM_CXVIRTUALSCREEN: return s.virtualScreen.right - s.virtualScreen.left;
    case SM_CYVIRTUALSCREEN: return s.virtualScreen.bottom - s.virtualScreen.top;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL: return 17;
    case SM_CYCAPTION: return 23;
    case SM_CXBORDER:
    case SM_CYBORDER: return 1;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME: return 3;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR: return 32;
    case SM_CXSMICON:
    case SM_CYSMICON: return 16;
    case SM_CMONITORS: return (int)s.monitors.size();
    }
    return 0;
}

BOOL WINAPI SystemParametersInfoA(UINT uiAction, UINT uiParam, PVOID pvParam, UINT fWinIni) {
    EnsureStarted();
    (void)fWinIni;
    State &s = S();
    switch (uiAction) {
    case SPI_SETSCREENSAVERRUNNING: {
        BOOL previous = s.screenSaverRunning ? TRUE : FALSE;
        s.screenSaverRunning = uiParam != 0;
        if (pvParam) *(BOOL *)pvParam = previous;
        return TRUE;
    }
    case SPI_GETSCREENSAVERRUNNING:
        if (!pvParam) {
            SetLastError(ERROR_NOACCESS);
            return FALSE;
        }
        *(BOOL *)pvParam = s.screenSaverRunning ? TRUE : FALSE;
        return TRUE;
    }
    SetLastError(ERROR_INVALID_SPI_VALUE);
    return FALSE;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
    EnsureStarted();
    if (!hInstance && IS_INTRESOURCE(lpCursorName) &&
        Listed(kSystemCursors, sizeof kSystemCursors / sizeof *kSystemCursors, (uintptr_t)lpCursorName))
        return (HCURSOR)(kCursorBase + (uintptr_t)lpCursorName * 4);
    // The program carries no cursors of its own.
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

HICON WINAPI LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName) {
    EnsureStarted();
    if (!hInstance && IS_INTRESOURCE(lpIconName) &&
        Listed(kSystemIcons, sizeof kSystemIcons / sizeof *kSystemIcons, (uintptr_t)lpIconName))
        return (HICON)(kIconBase + (uintptr_t)lpIconName * 4);
    // Icons of the program arrive with its resources; until then none exist.
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
}

}  // extern "C"
