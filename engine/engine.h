// The animation engine: the saver window's own message handler, the
// pictures and palettes, the scene cycle and the bomb field, and the one
// random generator they share.
#ifndef VANTREL_ENGINE_H
#define VANTREL_ENGINE_H

#include <windows.h>

// ---- random.cpp --------------------------------------------------------------
struct SaverRandomRecord {
    DWORD state = 1;
};
extern SaverRandomRecord SaverRandom;
void SeedRandom(DWORD seed);
int NextRandom(void);  // 0..32767

// ---- the scene's shared state (scene.cpp) -------------------------------------
enum ScenePhase : LONG { Bombs = 0, Slideshow = 1 };

// A LOGPALETTE with room for every entry of an 8-bit colour table.
struct ScenePaletteBuffer {
    WORD palVersion;
    WORD palNumEntries;
    PALETTEENTRY palPalEntry[256];
};

struct SceneStateRecord {
    ScenePhase phase = Bombs;
    LONG bombSceneReady = 0;
    LONG pictureShown = 0;
    LONG frameCount = 0;
    LONG frameBudget = 0;
    LONG screenWidth = 0;
    LONG screenHeight = 0;
    LONG warmUpFrames = 0;
    LONG lastPicture = 0;
    LONG spriteWidth = 0;
    LONG spriteHeight = 0;
    HPALETTE scenePalette = nullptr;
    HBITMAP workBitmap = nullptr;
    HBITMAP backdropBitmap = nullptr;
    WORD timerId = 0;  // low 16 bits of SetTimer's result; 0: no timer
    ScenePaletteBuffer paletteBuffer = {};
};
extern SceneStateRecord SceneState;

enum { WarmUpFrameCount = 105 };

// ---- the bomb field -------------------------------------------------------------
struct BombSlot {
    LONG x;
    LONG y;
    LONG active;
    float speed;
    float carry;
};
enum { BombSlotCount = 200 };
extern BombSlot BombField[BombSlotCount];

// ---- assets.cpp -------------------------------------------------------------------
enum { AssetSlotCount = 7, SpriteSlot = 4, BackdropSlot = 5, MaskSlot = 6 };
extern HBITMAP SaverAssets[AssetSlotCount];
extern const LONG AssetResourceIds[AssetSlotCount];
enum { FrameTimerId = 204, FrameTimerPeriodMs = 66 };
int LoadAssets(HWND window);
int ReleaseAssets(HWND window);
void BuildScenePalette(HDC windowDC, HDC memoryDC);

// Every deletion tests for null first and forgets the handle at once.
template <typename Handle>
inline void DeleteAndForget(Handle &handle)
{
    if (handle) {
        DeleteObject(handle);
        handle = nullptr;
    }
}

// ---- event_handler.cpp --------------------------------------------------------------
LRESULT SaverEventHandler(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void EraseToBlack(HWND window, HDC dc);

// ---- scene.cpp ----------------------------------------------------------------------
LONG FrameBudget(LONG screenDelay);
int PaintScene(HWND window, HDC dc);
int ShowRandomPicture(HWND window, HDC dc);

// ---- bomb_field.cpp -------------------------------------------------------------------
int StepBombField(HWND window, HDC dc);

#endif
