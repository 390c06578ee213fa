// The engine's pictures and its frame timer. The pictures arrive with the
// art; for now a window gets its timer, so the scene is stepped every frame.
#include "engine/engine.h"

static WORD frameTimer;  // low 16 bits of SetTimer's result; 0: none running

int LoadAssets(HWND window)
{
    frameTimer = LOWORD(SetTimer(window, FrameTimerId, FrameTimerPeriodMs, nullptr));
    return 1;
}

int ReleaseAssets(HWND window)
{
    if (frameTimer)
        KillTimer(window, FrameTimerId);
    return 1;
}
