// The scene cycle: every paint of the saver window is one step of it. The
// bomb phase and the slideshow take turns, each lasting a number of paints
// that the ScreenDelay setting decides.
#include "engine/engine.h"

#include "settings/settings.h"

SceneStateRecord SceneState;

// The slideshow pictures are 640 × 480; the scene always takes all of it.
enum { PictureWidth = 640, PictureHeight = 480 };

LONG FrameBudget(LONG screenDelay)
{
    // 67.3875 paints per step of the setting plus 11.25, rounded down; the
    // integer form gives the exact figure the setting's whole range needs.
    return static_cast<LONG>((5391LL * screenDelay + 900) / 80);
}

static void FillClientBlack(HWND window, HDC dc)
{
    RECT client;
    GetClientRect(window, &client);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
}

static HDC ContextHolding(HDC dc, HGDIOBJ bitmap)
{
    HDC memory = CreateCompatibleDC(dc);
    SelectObject(memory, bitmap);
    return memory;
}

// The first paint of a bomb phase: the sprite's palette, the two
// screen-sized buffers in the sprite's format, the backdrop stretched once,
// and on a window's first phase the silent warm-up. The window shows black.
static void PrepareBombPhase(HWND window, HDC dc)
{
    FillClientBlack(window, dc);
    SceneState.frameCount = 0;
    SceneState.frameBudget = FrameBudget(SaverSettings.ScreenDelay);

    HDC sprite = ContextHolding(dc, SaverAssets[SpriteSlot]);
    SceneState.scenePalette = nullptr;
    BuildScenePalette(dc, sprite);

    // Compatible with the 8-bit sprite, not the window: every buffer of the
    // phase takes the sprite's colour table.
    SceneState.workBitmap = CreateCompatibleBitmap(sprite, SceneState.screenWidth, SceneState.screenHeight);
    SceneState.backdropBitmap = CreateCompatibleBitmap(sprite, SceneState.screenWidth, SceneState.screenHeight);

    HDC backdrop = ContextHolding(dc, SceneState.backdropBitmap);
    HDC source = ContextHolding(dc, SaverAssets[BackdropSlot]);
    StretchBlt(backdrop, 0, 0, SceneState.screenWidth, SceneState.screenHeight, source, 0, 0, PictureWidth,
               PictureHeight, SRCCOPY);

    while (SceneState.warmUpFrames)
        StepBombField(window, dc);
    SceneState.bombSceneReady = 1;

    DeleteDC(sprite);
    DeleteDC(source);
    DeleteDC(backdrop);
}

static void PaintBombFrame(HWND window, HDC dc)
{
    if (!StepBombField(window, dc))
        return;
    // The bombs themselves stay where they are for the next bomb phase.
    DeleteAndForget(SceneState.workBitmap);
    DeleteAndForget(SceneState.backdropBitmap);
    DeleteAndForget(SceneState.scenePalette);
    SceneState.phase = Slideshow;
    SceneState.bombSceneReady = 0;
    SceneState.pictureShown = 0;
}

int ShowRandomPicture(HWND window, HDC dc)
{
    FillClientBlack(window, dc);

    // The quotient runs 0..4; it is compared before 4 becomes 3, so only
    // picture 3 can ever follow itself.
    LONG choice;
    do
        choice = NextRandom() / 8191;
    while (choice == SceneState.lastPicture);
    if (choice > 3)
        choice = 3;
    SceneState.lastPicture = choice;

    HDC picture = nullptr;
    HDC work = nullptr;
    if (SaverAssets[choice]) {
        picture = ContextHolding(dc, SaverAssets[choice]);
        BuildScenePalette(dc, picture);
        SceneState.workBitmap = CreateCompatibleBitmap(picture, SceneState.screenWidth, SceneState.screenHeight);
        work = ContextHolding(dc, SceneState.workBitmap);
        StretchBlt(work, 0, 0, SceneState.screenWidth, SceneState.screenHeight, picture, 0, 0, PictureWidth,
                   PictureHeight, SRCCOPY);
        BitBlt(dc, 0, 0, SceneState.screenWidth, SceneState.screenHeight, work, 0, 0, SRCCOPY);
    }
    // A missing picture still lasts its normal time, on black.
    SceneState.frameBudget = FrameBudget(SaverSettings.ScreenDelay);
    SceneState.frameCount = 0;
    SceneState.pictureShown = 1;
    if (picture) {
        DeleteDC(picture);
        DeleteDC(work);
    }
    return 1;
}

static void PaintSlideshowFrame(HDC dc)
{
    HDC work = ContextHolding(dc, SceneState.workBitmap);
    if (SceneState.scenePalette && SelectPalette(dc, SceneState.scenePalette, FALSE))
        RealizePalette(dc);
    BitBlt(dc, 0, 0, SceneState.screenWidth, SceneState.screenHeight, work, 0, 0, SRCCOPY);
    DeleteDC(work);

    if (++SceneState.frameCount >= SceneState.frameBudget) {
        DeleteAndForget(SceneState.workBitmap);
        DeleteAndForget(SceneState.scenePalette);
        SceneState.pictureShown = 0;
        SceneState.bombSceneReady = 0;
        SceneState.phase = Bombs;
    }
}

int PaintScene(HWND window, HDC dc)
{
    if (SceneState.phase == Bombs) {
        if (!SceneState.bombSceneReady)
            PrepareBombPhase(window, dc);
        else
            PaintBombFrame(window, dc);
    } else if (!SceneState.pictureShown) {
        ShowRandomPicture(window, dc);
    } else {
        PaintSlideshowFrame(dc);
    }
    return 1;
}
