// The monitors other than the primary one: the saver draws on the primary
// alone, and a screen saver that left the others showing the desktop would
// show whatever was on it. Each of them is covered in plain black topmost
// windows for as long as the saver window lives; input there is input to
// the saver.
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
    // Two windows, its left and right halves: a window over a whole monitor
    // is taken for a full-screen window by Wine, whose window manager then
    // puts it on the monitor of its choosing (the one with the keyboard,
    // where the saver is). Halves are never taken so.
    const RECT &r = info.rcMonitor;
    LONG middle = r.left + (r.right - r.left) / 2;
    RECT halves[2] = {{r.left, r.top, middle, r.bottom}, {middle, r.top, r.right, r.bottom}};
    for (const RECT &half : halves) {
        if (half.right <= half.left)
            continue;
        if (MonitorCovers.count >= MaxMonitorCovers)
            return FALSE;
        HWND cover = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, CoverClassName, "", WS_POPUP, half.left,
                                     half.top, half.right - half.left, half.bottom - half.top,
                                     reinterpret_cast<HWND>(owner), nullptr, HostState.instance, nullptr);
        if (!cover)
            continue;
        MonitorCovers.windows[MonitorCovers.count++] = cover;
        // Shown without taking the keyboard from the saver window.
        ShowWindow(cover, SW_SHOWNOACTIVATE);
    }
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
