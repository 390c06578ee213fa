// The animation engine's entry: the saver window's own message handler.
#ifndef VANTREL_ENGINE_H
#define VANTREL_ENGINE_H

#include <windows.h>

LRESULT SaverEventHandler(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
