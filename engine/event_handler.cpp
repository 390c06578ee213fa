// The engine's message handler. Until the engine draws, it consumes nothing:
// every message goes back to the host's default handling, so the window
// shows its black class background and closes on input as it must.
#include "engine/engine.h"

#include "host/host.h"

LRESULT SaverEventHandler(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return HostDefaultProc(window, message, wParam, lParam);
}
