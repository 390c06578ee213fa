// The seven pictures the animation draws from, loaded when the saver window
// is made and freed with it, and the palettes built from their colour tables.
#include "engine/engine.h"

#include "host/host.h"

HBITMAP SaverAssets[AssetSlotCount];
// Slideshow pictures 0 to 3, then the sprite, the backdrop and the mask.
const LONG AssetResourceIds[AssetSlotCount] = {117, 119, 120, 138, 118, 128, 130};

int LoadAssets(HWND window)
{
    SceneState.phase = Bombs;
    SceneState.pictureShown = 0;
    SceneState.bombSceneReady = 0;
    SceneState.frameCount = 0;
    // Nothing exists yet at window creation, so nothing is deleted here.
    SceneState.scenePalette = nullptr;
    SceneState.workBitmap = nullptr;
    SceneState.backdropBitmap = nullptr;
    SceneState.warmUpFrames = WarmUpFrameCount;
    SceneState.lastPicture = -1;  // any picture may come first
    for (BombSlot &slot : BombField)
        slot.active = 0;

    SeedRandom(GetTickCount());

    // The scene is always composed at desktop size, in a preview too.
    RECT desktop = {};
    GetWindowRect(GetDesktopWindow(), &desktop);
    SceneState.screenWidth = desktop.right;
    SceneState.screenHeight = desktop.bottom;

    for (int slot = 0; slot < AssetSlotCount; ++slot) {
        // As a DIB section the picture keeps its own colour table and indices.
        SaverAssets[slot] = static_cast<HBITMAP>(
            LoadImageA(HostState.instance, MAKEINTRESOURCEA(AssetResourceIds[slot] & 0xFFFF), IMAGE_BITMAP, 0, 0,
                       LR_CREATEDIBSECTION));
        if (!SaverAssets[slot]) {
            char text[64];
            wsprintfA(text, "Unable to load bitmap #%d!", slot);
            MessageBoxA(window, text, "Vantrel Screen Saver", MB_OK | MB_ICONWARNING);
            for (HBITMAP &loaded : SaverAssets)
                DeleteAndForget(loaded);
            return 0;
        }
    }

    // The mask's size stands for the sprite's too.
    BITMAP mask = {};
    GetObjectA(SaverAssets[MaskSlot], sizeof mask, &mask);
    SceneState.spriteWidth = mask.bmWidth;
    SceneState.spriteHeight = mask.bmHeight;

    SceneState.timerId = LOWORD(SetTimer(window, FrameTimerId, FrameTimerPeriodMs, nullptr));
    return 1;
}

int ReleaseAssets(HWND window)
{
    if (SceneState.timerId)
        KillTimer(window, FrameTimerId);
    DeleteAndForget(SceneState.workBitmap);
    // The backdrop buffer exists only while a bomb phase is prepared.
    if (SceneState.bombSceneReady)
        DeleteAndForget(SceneState.backdropBitmap);
    DeleteAndForget(SceneState.scenePalette);
    for (HBITMAP &slot : SaverAssets)
        DeleteAndForget(slot);
    return 1;
}

void BuildScenePalette(HDC windowDC, HDC memoryDC)
{
    ScenePaletteBuffer &buffer = SceneState.paletteBuffer;
    // The colour table lands straight in the entry array, in its own
    // blue-green-red order, and is turned round in place below.
    RGBQUAD *table = reinterpret_cast<RGBQUAD *>(buffer.palPalEntry);
    if (GetDIBColorTable(memoryDC, 0, 256, table) == 0)
        return;
    buffer.palVersion = 0x300;
    buffer.palNumEntries = 256;
    for (PALETTEENTRY &entry : buffer.palPalEntry) {
        BYTE *bytes = reinterpret_cast<BYTE *>(&entry);
        BYTE blue = bytes[0];
        bytes[0] = bytes[2];
        bytes[2] = blue;
        // Each colour gets a system palette slot of its own.
        bytes[3] = PC_NOCOLLAPSE;
    }
    SceneState.scenePalette = CreatePalette(reinterpret_cast<const LOGPALETTE *>(&buffer));
    if (!SceneState.scenePalette)
        return;
    if (SelectPalette(windowDC, SceneState.scenePalette, FALSE))
        RealizePalette(windowDC);
}
