// The monitors other than the primary one: the saver draws on the primary
// alone, and a screen saver that left the others showing the desktop would
// show whatever was on it. Each of them gets a plain black topmost window
// for as long as the saver window lives; input there is input to the saver.
#include "host/host.h"

MonitorCoverRecord MonitorCovers;

static const char CoverClassName[] = "VantrelMonitorCover";

static LRESULT CALLBACK CoverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETCURSOR:
        SetCursor(nullptr);
        return 1;
    case WM_MOUSEACTIVATE:
        // The saver window keeps the keyboard.
        return MA_NOACTIVATE;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        // The saver's own rules decide: it measures movement by the
        // cursor's screen position, which is the same wherever it is.
        if (HostState.window && IsWindow(HostState.window))
            return SendMessageA(HostState.window, message, wParam, lParam);
        break;
    case WM_CLOSE:
        // A cover goes with the saver, never by itself.
        if (HostState.window && IsWindow(HostState.window))
            PostMessageA(HostState.window, WM_CLOSE, 0, 0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static BOOL CALLBACK CoverMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM owner)
{
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoA(monitor, &info) || (info.dwFlags & MONITORINFOF_PRIMARY))
        return TRUE;
    if (MonitorCovers.count >= MaxMonitorCovers)
        return FALSE;
    const RECT &r = info.rcMonitor;
    HWND cover = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, CoverClassName, "", WS_POPUP | WS_VISIBLE, r.left,
                                 r.top, r.right - r.left, r.bottom - r.top, reinterpret_cast<HWND>(owner), nullptr,
                                 HostState.instance, nullptr);
    if (cover)
        MonitorCovers.windows[MonitorCovers.count++] = cover;
    return TRUE;
}

void UncoverOtherMonitors(void)
{
    for (int i = 0; i < MonitorCovers.count; ++i) {
        if (MonitorCovers.windows[i] && IsWindow(MonitorCovers.windows[i]))
            DestroyWindow(MonitorCovers.windows[i]);
        MonitorCovers.windows[i] = nullptr;
    }
    MonitorCovers.count = 0;
}

void CoverOtherMonitors(HWND saverWindow)
{
    UncoverOtherMonitors();
    WNDCLASSA coverClass = {};
    coverClass.lpfnWndProc = CoverWindowProc;
    coverClass.hInstance = HostState.instance;
    coverClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    coverClass.lpszClassName = CoverClassName;
    // Registered by the first call; a later one finds it there.
    RegisterClassA(&coverClass);
    // Owned by the saver window, so that they go before it whatever ends it.
    EnumDisplayMonitors(nullptr, nullptr, CoverMonitor, reinterpret_cast<LPARAM>(saverWindow));
}
