// The animation engine: the saver window's own message handler and what it
// drives (the pictures, the scene cycle).
#ifndef VANTREL_ENGINE_H
#define VANTREL_ENGINE_H

#include <windows.h>

// event_handler.cpp
LRESULT SaverEventHandler(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void EraseToBlack(HWND window, HDC dc);

// assets.cpp
enum { FrameTimerId = 204, FrameTimerPeriodMs = 66 };
int LoadAssets(HWND window);
int ReleaseAssets(HWND window);

// scene.cpp
int PaintScene(HWND window, HDC dc);

#endif
