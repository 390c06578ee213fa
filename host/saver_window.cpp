// The one saver window: a topmost popup over the whole screen, or a child
// filling the control panel's preview window, and the loop that pumps its
// messages until it is destroyed.
#include "host/host.h"

#include "engine/engine.h"

HostStateRecord HostState;

static const char SaverClassName[] = "WindowsScreenSaverClass";
static const char FullScreenTitle[] = "Screen Saver";
static const char PreviewTitle[] = "Preview";
enum { SaverIconId = 100 };

int RunSaverWindow(HWND parent)
{
    WNDCLASSA saverClass = {};
    saverClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_OWNDC;
    saverClass.lpfnWndProc = HostWindowProc;
    saverClass.hInstance = HostState.instance;
    saverClass.hIcon = LoadIconA(HostState.instance, MAKEINTRESOURCEA(SaverIconId));
    saverClass.hCursor = nullptr;
    saverClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    saverClass.lpszClassName = SaverClassName;

    DWORD exStyle = 0;
    DWORD style;
    LPCSTR title;
    int width;
    int height;
    if (parent) {
        RECT area = {};
        GetClientRect(parent, &area);
        width = area.right;
        height = area.bottom;
        style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
        title = PreviewTitle;
        HostState.previewMode = 1;
    } else {
        width = GetSystemMetrics(SM_CXSCREEN);
        height = GetSystemMetrics(SM_CYSCREEN);
        style = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
        exStyle = WS_EX_TOPMOST;
        title = FullScreenTitle;
        // Only one full-screen saver at a time: a later start gives way.
        HWND running = FindWindowA(SaverClassName, FullScreenTitle);
        if (running && IsWindow(running)) {
            SetForegroundWindow(running);
            return 0;
        }
        LoadPasswordVerifier();
    }

    // A window that cannot be made is a failed run, not a quiet success.
    int result = -1;
    if (RegisterClassA(&saverClass)) {
        HostState.window = CreateWindowExA(exStyle, SaverClassName, title, style, 0, 0, width, height, parent,
                                           nullptr, HostState.instance, nullptr);
        if (HostState.window) {
            if (!HostState.previewMode) {
                CoverOtherMonitors(HostState.window);
                SetForegroundWindow(HostState.window);
            }
            MSG message = {};
            // GetMessageA's -1 (an error) keeps the loop going, as nonzero.
            while (GetMessageA(&message, nullptr, 0, 0)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
            result = static_cast<int>(message.wParam);
        }
    }
    UnloadPasswordVerifier();
    return result;
}

static void DetachInputContext(HWND window)
{
    HostState.imeLibrary = GetModuleHandleA("IMM32.DLL");
    if (!HostState.imeLibrary)
        return;
    HostState.imeAssociateProc =
        EntryAs<ImmAssociateContextProc>(GetProcAddress(HostState.imeLibrary, "ImmAssociateContext"));
    if (HostState.imeAssociateProc)
        HostState.savedImeContext = HostState.imeAssociateProc(window, nullptr);
}

static void RestoreInputContext(HWND window)
{
    if (HostState.imeLibrary && HostState.imeAssociateProc && HostState.savedImeContext)
        HostState.imeAssociateProc(window, HostState.savedImeContext);
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        DetachInputContext(window);
        GetCursorPos(&HostState.savedCursor);
        if (!HostState.previewMode)
            SetCursor(nullptr);
        break;

    case WM_DESTROY:
        UncoverOtherMonitors();
        RestoreInputContext(window);
        PostQuitMessage(0);
        break;

    case WM_SETTEXT:
        // The title given at creation is how a later start finds us.
        return 0;

    case WM_PAINT:
        if (HostState.closing)
            return DefWindowProcA(window, message, wParam, lParam);
        if (!HostState.previewMode)
            SetCursor(nullptr);
        break;

    case WM_HELP:
    case WM_CONTEXTMENU:
        if (!HostState.previewMode)
            break;
        {
            // Help and context menus in a preview belong to the control panel.
            HWND owner = GetParent(window);
            if (owner && IsWindow(owner))
                PostMessageA(owner, message, reinterpret_cast<WPARAM>(owner), lParam);
        }
        return 1;

    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        if (HostState.closing)
            return DefWindowProcA(window, message, wParam, lParam);
        break;

    case WM_SYSCOMMAND:
        if (!HostState.previewMode &&
            (wParam == SC_NEXTWINDOW || wParam == SC_PREVWINDOW || wParam == SC_SCREENSAVE))
            return 0;
        break;

    case WM_DISPLAYCHANGE:
        // Monitors came or went: the covers follow; the saver window keeps
        // the size it was made with.
        if (!HostState.previewMode && !HostState.closing)
            CoverOtherMonitors(window);
        break;

    case WM_TIMER:
        if (HostState.closing)
            return 0;
        Sleep(0);
        break;
    }
    return SaverEventHandler(window, message, wParam, lParam);
}
