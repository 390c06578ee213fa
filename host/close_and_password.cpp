// When the saver window may close: input in a full-screen run requests a
// close, and a close goes through only when the system's password verifier
// (if the user turned it on) approves.
#include "host/host.h"

BOOL SetSaverRunning(BOOL flag)
{
    BOOL previous = FALSE;
    return SystemParametersInfoA(SPI_SCREENSAVERRUNNING, static_cast<UINT>(flag), &previous, 0);
}

void UnloadPasswordVerifier(void)
{
    if (!HostState.verifierLibrary)
        return;
    FreeLibrary(HostState.verifierLibrary);
    HostState.verifierLibrary = nullptr;
    if (HostState.verifierProc) {
        HostState.verifierProc = nullptr;
        SetSaverRunning(FALSE);
    }
}

void LoadPasswordVerifier(void)
{
    if (HostState.verifierLibrary)
        UnloadPasswordVerifier();

    HKEY desktop;
    if (RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &desktop) != ERROR_SUCCESS)
        return;
    // Shorter data fills only the low bytes; the rest must read as zero.
    DWORD usePassword = 0;
    DWORD size = sizeof usePassword;
    if (RegQueryValueExA(desktop, "ScreenSaveUsePassword", nullptr, nullptr, reinterpret_cast<LPBYTE>(&usePassword),
                         &size) == ERROR_SUCCESS &&
        usePassword != 0) {
        HostState.verifierLibrary = LoadLibraryA("PASSWORD.CPL");
        if (HostState.verifierLibrary) {
            HostState.verifierProc =
                EntryAs<VerifyScreenSavePwdProc>(GetProcAddress(HostState.verifierLibrary, "VerifyScreenSavePwd"));
            if (HostState.verifierProc)
                SetSaverRunning(TRUE);
            else
                UnloadPasswordVerifier();
        }
    }
    RegCloseKey(desktop);
}

BOOL VerifyBeforeClose(HWND window)
{
    if (HostState.checkingPassword)
        return FALSE;
    if (!HostState.verifierProc) {
        HostState.closing = 1;
        return TRUE;
    }

    // Differences of unsigned ticks survive the counter's wrap.
    DWORD now = GetTickCount();
    if (HostState.lastVerifyTick != NoVerificationYet && now - HostState.lastVerifyTick < VerifyIntervalMs)
        return FALSE;

    HostState.checkingPassword = 1;
    // Ticks that piled up before the verifier's dialog would otherwise all
    // arrive at once when it returns.
    MSG scratch;
    PeekMessageA(&scratch, window, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
    PeekMessageA(&scratch, window, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
    LRESULT approved = SendMessageA(window, VerifyPasswordMessage, 0, 0);
    HostState.closing = approved ? 1 : 0;
    HostState.checkingPassword = 0;
    if (!approved)
        SetCursor(nullptr);
    // Measured from the verifier's return, so a slow dialog still gets 200 ms.
    HostState.lastVerifyTick = GetTickCount();
    return HostState.closing;
}

LRESULT HostDefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (HostState.previewMode || HostState.closing)
        return DefWindowProcA(window, message, wParam, lParam);

    if (message == WM_CLOSE) {
        if (VerifyBeforeClose(window))
            return DefWindowProcA(window, message, wParam, lParam);
        // Staying open: measure mouse movement afresh from here.
        GetCursorPos(&HostState.savedCursor);
        return 0;
    }
    if (message == VerifyPasswordMessage)
        return HostState.verifierProc ? HostState.verifierProc(window) : 1;
    if (HostState.checkingPassword)
        return DefWindowProcA(window, message, wParam, lParam);

    switch (message) {
    case WM_SETCURSOR:
        SetCursor(nullptr);
        return 1;
    case WM_SHOWWINDOW:
        if (wParam)
            SetCursor(nullptr);
        break;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        PostMessageA(window, WM_CLOSE, 0, 0);
        break;
    case WM_MOUSEMOVE: {
        // The cursor's screen position, not the message's client coordinates.
        POINT cursor;
        GetCursorPos(&cursor);
        DWORD dx = cursor.x > HostState.savedCursor.x ? DWORD(cursor.x) - DWORD(HostState.savedCursor.x)
                                                      : DWORD(HostState.savedCursor.x) - DWORD(cursor.x);
        DWORD dy = cursor.y > HostState.savedCursor.y ? DWORD(cursor.y) - DWORD(HostState.savedCursor.y)
                                                      : DWORD(HostState.savedCursor.y) - DWORD(cursor.y);
        // Small drifts leave the reference point alone, so they add up.
        if (dx + dy > MouseWakeThreshold) {
            PostMessageA(window, WM_CLOSE, 0, 0);
            HostState.savedCursor = cursor;
        }
        break;
    }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
