// One scene step per paint. Until the animation arrives a step shows black.
#include "engine/engine.h"

int PaintScene(HWND window, HDC dc)
{
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    return 1;
}
