// The scene cycle's shared state, and one scene step per paint. Until the
// animation arrives a step shows black.
#include "engine/engine.h"

SceneStateRecord SceneState;
BombSlot BombField[BombSlotCount];

int PaintScene(HWND window, HDC dc)
{
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    return 1;
}
