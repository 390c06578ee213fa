// A small Windows program that the end-to-end scripts run beside the saver, to
// look at its windows from the inside of the window system (class names and
// extended styles are not visible from X) and to play the control panel's part
// for a preview.
//
//   probe find              the full-screen saver window: hwnd, styles, rect,
//                           how many exist; exit 0 when FindWindowA finds one
//   probe screen            GetSystemMetrics screen size
//   probe monitors          how many monitors the system sees, and each one's
//                           rectangle (count=N monitors=WxH+X+Y,...)
//   probe cursor            GetCursorPos
//   probe makewindow        make a plain visible window, print its decimal
//                           handle, run until it is destroyed
//   probe child PARENT      the saver window inside PARENT; exit 0 when found
//   probe close HWND        post WM_CLOSE to HWND
//   probe alive HWND        exit 0 while HWND is a window
//   probe settext HWND TEXT SetWindowTextA; prints its result
//
// Output is one line of key=value pairs, so the scripts can pick fields out
// with a pattern and print the line whole when something is wrong.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char SaverClass[] = "WindowsScreenSaverClass";
static const char SaverTitle[] = "Screen Saver";

static int fullScreenCount;
static int classCount;

static BOOL CALLBACK CountSaverWindows(HWND window, LPARAM)
{
    char className[64] = "";
    char title[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (strcmp(className, SaverClass) != 0)
        return TRUE;
    classCount++;
    // For a window of another process this reads the caption the system
    // keeps; it sends no WM_GETTEXT, so a saver that hangs cannot block us.
    GetWindowTextA(window, title, sizeof title);
    if (strcmp(title, SaverTitle) == 0)
        fullScreenCount++;
    return TRUE;
}

static void PrintWindow(const char* prefix, HWND window)
{
    RECT rect = {};
    GetWindowRect(window, &rect);
    char title[64] = "";
    GetWindowTextA(window, title, sizeof title);
    printf("%shwnd=%lu style=0x%08lx exstyle=0x%08lx rect=%ld,%ld,%ld,%ld visible=%d title=%s\n",
           prefix, (unsigned long)(ULONG_PTR)window,
           (unsigned long)GetWindowLongA(window, GWL_STYLE),
           (unsigned long)GetWindowLongA(window, GWL_EXSTYLE),
           rect.left, rect.top, rect.right, rect.bottom,
           IsWindowVisible(window) ? 1 : 0, title);
}

static int FindSaver()
{
    EnumWindows(CountSaverWindows, 0);
    HWND window = FindWindowA(SaverClass, SaverTitle);
    printf("count=%d classcount=%d ", fullScreenCount, classCount);
    if (!window) {
        printf("hwnd=0\n");
        return 1;
    }
    PrintWindow("", window);
    return 0;
}

static HWND ParseHandle(const char* text)
{
    char* end = nullptr;
    unsigned long value = strtoul(text, &end, 10);
    if (!*text || *end)
        return nullptr;
    return (HWND)(ULONG_PTR)value;
}

static LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Stands in for the control panel's preview area: a window of a known size at
// a known place, whose handle the saver gets on its command line.
static int MakeWindow()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    windowClass.lpszClassName = "VantrelProbeWindow";
    if (!RegisterClassA(&windowClass))
        return 2;
    HWND window = CreateWindowExA(0, windowClass.lpszClassName, "Probe", WS_POPUP | WS_VISIBLE,
                                  100, 100, 320, 240, nullptr, nullptr, windowClass.hInstance,
                                  nullptr);
    if (!window)
        return 2;
    RECT client = {};
    GetClientRect(window, &client);
    printf("hwnd=%lu client=%ld,%ld\n", (unsigned long)(ULONG_PTR)window, client.right,
           client.bottom);
    fflush(stdout);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

static BOOL CALLBACK ListMonitor(HMONITOR, HDC, LPRECT rect, LPARAM data)
{
    char* list = (char*)data;
    size_t used = strlen(list);
    if (used + 64 < 1024)
        snprintf(list + used, 1024 - used, "%s%ldx%ld%+ld%+ld", used ? "," : "",
                 (long)(rect->right - rect->left), (long)(rect->bottom - rect->top),
                 (long)rect->left, (long)rect->top);
    return TRUE;
}

static int ListMonitors()
{
    char list[1024] = "";
    EnumDisplayMonitors(nullptr, nullptr, ListMonitor, (LPARAM)list);
    printf("count=%d monitors=%s\n", GetSystemMetrics(SM_CMONITORS), list);
    return 0;
}

static int FindChild(HWND parent)
{
    if (!IsWindow(parent)) {
        printf("parent=invalid\n");
        return 2;
    }
    HWND child = FindWindowExA(parent, nullptr, SaverClass, nullptr);
    RECT client = {};
    GetClientRect(parent, &client);
    printf("parentclient=%ld,%ld ", client.right, client.bottom);
    if (!child) {
        printf("hwnd=0\n");
        return 1;
    }
    RECT inParent = {};
    GetWindowRect(child, &inParent);
    MapWindowPoints(nullptr, parent, (POINT*)&inParent, 2);
    printf("inparent=%ld,%ld,%ld,%ld ", inParent.left, inParent.top, inParent.right,
           inParent.bottom);
    PrintWindow("", child);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: probe find|screen|monitors|cursor|makewindow|child H|close H|alive H|settext H T\n");
        return 2;
    }
    const char* command = argv[1];
    HWND handle = argc > 2 ? ParseHandle(argv[2]) : nullptr;
    int result = 2;
    if (!strcmp(command, "find")) {
        result = FindSaver();
    } else if (!strcmp(command, "screen")) {
        printf("width=%d height=%d\n", GetSystemMetrics(SM_CXSCREEN),
               GetSystemMetrics(SM_CYSCREEN));
        result = 0;
    } else if (!strcmp(command, "monitors")) {
        result = ListMonitors();
    } else if (!strcmp(command, "cursor")) {
        POINT point = {};
        result = GetCursorPos(&point) ? 0 : 1;
        printf("x=%ld y=%ld\n", point.x, point.y);
    } else if (!strcmp(command, "makewindow")) {
        result = MakeWindow();
    } else if (!strcmp(command, "child") && handle) {
        result = FindChild(handle);
    } else if (!strcmp(command, "close") && handle) {
        result = PostMessageA(handle, WM_CLOSE, 0, 0) ? 0 : 1;
    } else if (!strcmp(command, "alive") && handle) {
        result = IsWindow(handle) ? 0 : 1;
    } else if (!strcmp(command, "settext") && handle && argc > 3) {
        printf("result=%d\n", SetWindowTextA(handle, argv[3]) ? 1 : 0);
        result = 0;

    } else {
        fprintf(stderr, "probe: bad arguments\n");
    }
    fflush(stdout);
    return result;
}
