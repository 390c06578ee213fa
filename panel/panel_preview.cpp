// The monitor picture with the live preview in its screen, and the saver's
// processes the panel starts: /p into the screen, /s for Preview, /c for
// Settings..., as the system's panel starts them.
#include <windows.h>

#include "panel/panel.h"
#include "panel/panel_resource.h"

static const char PreviewHostClass[] = "VantrelPanelPreview";

// The body of the monitor takes the top four fifths of the picture, its
// stand the rest; the screen sits inside the body's bezel.
static LONG BodyBottom(const RECT *client) { return client->top + (client->bottom - client->top) * 4 / 5; }

void GetMonitorScreenRect(const RECT *client, RECT *screen) {
    const LONG bezel = 9;
    screen->left = client->left + bezel;
    screen->top = client->top + bezel;
    screen->right = client->right - bezel;
    screen->bottom = BodyBottom(client) - bezel;
    if (screen->right < screen->left) screen->right = screen->left;
    if (screen->bottom < screen->top) screen->bottom = screen->top;
}

static void Fill(HDC dc, LONG left, LONG top, LONG right, LONG bottom, COLORREF colour) {
    RECT r = {left, top, right, bottom};
    HBRUSH brush = CreateSolidBrush(colour);
    if (!brush) return;
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

static void PaintMonitor(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    if (!dc) return;
    RECT c;
    GetClientRect(hwnd, &c);
    FillRect(dc, &c, GetSysColorBrush(COLOR_BTNFACE));
    LONG body = BodyBottom(&c);
    LONG middle = (c.left + c.right) / 2, width = c.right - c.left;
    const COLORREF outline = RGB(64, 64, 64), case_ = RGB(200, 200, 196), shade = RGB(150, 150, 146);
    // The stand: a neck and a foot, drawn first so the body overlaps them.
    Fill(dc, middle - width / 10, body - 2, middle + width / 10, c.bottom - 6, outline);
    Fill(dc, middle - width / 10 + 1, body - 2, middle + width / 10 - 1, c.bottom - 6, shade);
    Fill(dc, middle - width / 4, c.bottom - 8, middle + width / 4, c.bottom, outline);
    Fill(dc, middle - width / 4 + 1, c.bottom - 7, middle + width / 4 - 1, c.bottom - 1, case_);
    // The body with its bezel, and the screen's sunken edge.
    Fill(dc, c.left, c.top, c.right, body, outline);
    Fill(dc, c.left + 1, c.top + 1, c.right - 1, body - 1, case_);
    RECT screen;
    GetMonitorScreenRect(&c, &screen);
    Fill(dc, screen.left - 2, screen.top - 2, screen.right + 2, screen.bottom + 2, shade);
    Fill(dc, screen.left - 1, screen.top - 1, screen.right + 1, screen.bottom + 1, outline);
    Fill(dc, screen.left, screen.top, screen.right, screen.bottom, RGB(0, 0, 0));
    // A power light under the screen.
    Fill(dc, c.right - 16, body - 6, c.right - 12, body - 4, RGB(40, 200, 60));
    EndPaint(hwnd, &ps);
}

static LRESULT CALLBACK MonitorProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_ERASEBKGND: return 1;  // the picture paints every pixel
    case WM_PAINT: PaintMonitor(hwnd); return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

BOOL RegisterPanelClasses(HINSTANCE instance) {
    WNDCLASSA monitor = {};
    monitor.lpfnWndProc = MonitorProc;
    monitor.hInstance = instance;
    monitor.hCursor = LoadCursorA(NULL, IDC_ARROW);
    monitor.lpszClassName = PANEL_MONITOR_CLASS;
    // The preview's host is plain black until the saver draws over it.
    WNDCLASSA host = {};
    host.lpfnWndProc = DefWindowProcA;
    host.hInstance = instance;
    host.hCursor = LoadCursorA(NULL, IDC_ARROW);
    host.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    host.lpszClassName = PreviewHostClass;
    // A second panel in the same process finds them there already.
    BOOL monitorClass = RegisterClassA(&monitor) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    BOOL hostClass = RegisterClassA(&host) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    return monitorClass && hostClass;
}

void MakePreviewArea(HWND hDlg) {
    HWND monitor = GetDlgItem(hDlg, IDC_PANEL_MONITOR);
    if (!monitor) return;
    RECT client, screen;
    GetClientRect(monitor, &client);
    GetMonitorScreenRect(&client, &screen);
    int width = screen.right - screen.left, height = screen.bottom - screen.top;
    PanelState.previewHost = CreateWindowExA(0, PreviewHostClass, "", WS_CHILD | WS_VISIBLE, screen.left, screen.top,
                                             width, height, monitor, (HMENU)(INT_PTR)IDC_PANEL_PREVIEW_HOST,
                                             PanelState.instance, NULL);
    PanelState.noPreview = CreateWindowExA(0, "STATIC", "", WS_CHILD | SS_CENTER, screen.left, screen.top, width,
                                           height, monitor, (HMENU)(INT_PTR)IDC_PANEL_NO_PREVIEW, PanelState.instance,
                                           NULL);
    HFONT font = (HFONT)SendMessageA(hDlg, WM_GETFONT, 0, 0);
    if (font && PanelState.noPreview) SendMessageA(PanelState.noPreview, WM_SETFONT, (WPARAM)font, FALSE);
}

void ShowNoPreview(const char *why) {
    if (PanelState.previewHost) ShowWindow(PanelState.previewHost, SW_HIDE);
    if (!PanelState.noPreview) return;
    SetWindowTextA(PanelState.noPreview, why);
    ShowWindow(PanelState.noPreview, SW_SHOW);
}

BOOL StartChild(PANELCHILD *child, const char *arguments) {
    if (child->running || !PanelState.program[0]) return FALSE;
    // wsprintfA writes 1024 bytes at most: a line it would cut short would
    // start something else.
    if (lstrlenA(PanelState.program) + lstrlenA(arguments) + 4 > 1023) return FALSE;
    char line[1024];
    wsprintfA(line, "\"%s\" %s", PanelState.program, arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessA(PanelState.program, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &child->process))
        return FALSE;
    child->running = TRUE;
    return TRUE;
}

void StopChild(PANELCHILD *child) {
    if (!child->running) return;
    if (WaitForSingleObject(child->process.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(child->process.hProcess, 0);
        WaitForSingleObject(child->process.hProcess, INFINITE);
    }
    CloseHandle(child->process.hThread);
    CloseHandle(child->process.hProcess);
    child->running = FALSE;
}

BOOL ChildHasEnded(PANELCHILD *child) {
    if (!child->running) return FALSE;
    if (WaitForSingleObject(child->process.hProcess, 0) != WAIT_OBJECT_0) return FALSE;
    StopChild(child);
    return TRUE;
}

void StartPreview(void) {
    if (PanelState.preview.running || !PanelState.previewHost) return;
    // The saver draws its preview into a window of ours by its X window
    // number: without an X server there is no such window to give it.
    char display[8];
    if (GetEnvironmentVariableA("DISPLAY", display, sizeof display) == 0) {
        ShowNoPreview("No preview: it is drawn in an X window, and this session has no X server (DISPLAY is not set).");
        return;
    }
    char arguments[32];
    wsprintfA(arguments, "/p %u", (UINT)(UINT_PTR)PanelState.previewHost);
    if (!StartChild(&PanelState.preview, arguments)) {
        ShowNoPreview("No preview: the screen saver could not be started.");
        return;
    }
    if (PanelState.noPreview) ShowWindow(PanelState.noPreview, SW_HIDE);
    ShowWindow(PanelState.previewHost, SW_SHOW);
}

void StopPreview(void) { StopChild(&PanelState.preview); }
