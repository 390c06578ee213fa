// The engine's message handler: creation and destruction set up and tear
// down the pictures and the timer, each tick asks for one repaint, each
// repaint is one scene step. Everything else goes back to the host.
#include "engine/engine.h"

#include "host/host.h"
#include "settings/settings.h"

void EraseToBlack(HWND window, HDC dc)
{
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

LRESULT SaverEventHandler(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        LoadSettings();
        // A picture that fails to load has been reported already; the window
        // stays and closes on input as usual.
        LoadAssets(window);
        break;

    case WM_DESTROY:
        ReleaseAssets(window);
        return 1;

    case WM_PAINT: {
        PAINTSTRUCT paint;
        if (HDC dc = BeginPaint(window, &paint)) {
            PaintScene(window, dc);
            EndPaint(window, &paint);
        }
        return 1;
    }

    case WM_ERASEBKGND: {
        // Erased in a paint cycle of our own, never with the class brush.
        PAINTSTRUCT paint;
        if (HDC dc = BeginPaint(window, &paint)) {
            EraseToBlack(window, dc);
            EndPaint(window, &paint);
        }
        return 1;
    }

    case WM_TIMER:
        // Without erasing: the last frame stays until the next one covers it.
        // Ticks that come while a repaint is pending merge into it.
        InvalidateRect(window, nullptr, FALSE);
        break;
    }
    return HostDefaultProc(window, message, wParam, lParam);
}
