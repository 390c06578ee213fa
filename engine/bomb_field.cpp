// The bomb field: up to 200 sprites that enter at the right or top edge and
// glide down and to the left, each at its own speed, until they leave the
// screen. One call is one frame: compose off-screen, show, maybe start one.
#include "engine/engine.h"

#include "settings/settings.h"

BombSlot BombField[BombSlotCount];

namespace {

// The single-precision value of 1/32767: exactly 32769 / 2^30.
const double ReciprocalOfDrawRange = 32769.0 / 1073741824.0;

// Start chances per frame, as single-precision constants.
const float RenderedStartChance = 0.15f;
const float WarmUpStartChance = 0.45000002f;

// One axis of a sprite clipped to the screen: where it is drawn from and
// to, and how much of it shows. False when nothing of it is on screen.
bool ClipAxis(LONG position, LONG spriteSize, LONG screenSize, LONG *source, LONG *destination, LONG *extent)
{
    *source = 0;
    *destination = position;
    *extent = spriteSize;
    if (position < 0) {
        *source = -position;
        *destination = 0;
        *extent = spriteSize + position;
        return -position < spriteSize;
    }
    if (position + spriteSize >= screenSize) {
        *extent = screenSize - position;
        return *extent >= 1;
    }
    return true;
}

void StartBomb(BombSlot &bomb)
{
    const LONG width = SceneState.screenWidth;
    const LONG height = SceneState.screenHeight;
    const LONG quarterWidth = SceneState.spriteWidth / 4;
    const LONG quarterHeight = SceneState.spriteHeight / 4;

    // One draw picks a point on the path down the right edge and along the top.
    int positionDraw = NextRandom();
    LONG span = height + width - quarterHeight - quarterWidth;
    LONG position = static_cast<LONG>(positionDraw * ReciprocalOfDrawRange * span);
    if (position <= height - quarterWidth) {
        bomb.x = width - 2;
        bomb.y = position + 2;
    } else {
        bomb.x = position - height + quarterWidth + quarterHeight;
        bomb.y = 2 - SceneState.spriteHeight;
    }
    bomb.active = 1;

    double scale = SaverSettings.BombSpeed * static_cast<double>(0.01f) * 3.0 + 1.0;
    float slowest = static_cast<float>(static_cast<double>(0.1f) * scale);
    float fastest = static_cast<float>(scale * static_cast<double>(2.65f));
    int speedDraw = NextRandom();
    bomb.speed = static_cast<float>((static_cast<double>(fastest) - slowest) * ReciprocalOfDrawRange * speedDraw +
                                    slowest);
    bomb.carry = 0.0f;
}

}  // namespace

int StepBombField(HWND window, HDC dc)
{
    const bool rendering = SceneState.warmUpFrames == 0;
    const bool backdrop = SaverSettings.BombBackdrop != 0;
    const LONG width = SceneState.screenWidth;
    const LONG height = SceneState.screenHeight;
    // The record is clamped, but the array's size is the limit that counts.
    const LONG used = SaverSettings.BombCount < BombSlotCount ? SaverSettings.BombCount : LONG(BombSlotCount);

    HDC work = nullptr, backdropContext = nullptr, sprite = nullptr, mask = nullptr;
    if (rendering) {
        if (SceneState.scenePalette && SelectPalette(dc, SceneState.scenePalette, FALSE))
            RealizePalette(dc);
        work = CreateCompatibleDC(dc);
        SelectObject(work, SceneState.workBitmap);
        if (backdrop) {
            backdropContext = CreateCompatibleDC(dc);
            SelectObject(backdropContext, SceneState.backdropBitmap);
        }
        sprite = CreateCompatibleDC(dc);
        SelectObject(sprite, SaverAssets[SpriteSlot]);
        mask = CreateCompatibleDC(dc);
        SelectObject(mask, SaverAssets[MaskSlot]);
        if (backdrop) {
            BitBlt(work, 0, 0, width, height, backdropContext, 0, 0, SRCCOPY);
        } else {
            RECT client;
            GetClientRect(window, &client);
            FillRect(work, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        }
    }

    for (LONG i = 0; i < used; ++i) {
        BombSlot &bomb = BombField[i];
        if (!bomb.active)
            continue;
        LONG sourceX, destinationX, clippedWidth, sourceY, destinationY, clippedHeight;
        // A sprite wholly off screen on any side frees its slot, undrawn.
        if (!ClipAxis(bomb.x, SceneState.spriteWidth, width, &sourceX, &destinationX, &clippedWidth))
            bomb.active = 0;
        if (!ClipAxis(bomb.y, SceneState.spriteHeight, height, &sourceY, &destinationY, &clippedHeight))
            bomb.active = 0;
        if (bomb.active == 1 && rendering) {
            if (backdrop)
                BitBlt(work, destinationX, destinationY, clippedWidth, clippedHeight, mask, sourceX, sourceY, SRCAND);
            BitBlt(work, destinationX, destinationY, clippedWidth, clippedHeight, sprite, sourceX, sourceY, SRCPAINT);
        }
        // Whole pixels only; the fraction above them is dropped, not kept.
        bomb.carry = bomb.speed + bomb.carry;
        if (bomb.carry >= 1.0f) {
            LONG distance = static_cast<LONG>(bomb.carry);
            bomb.x -= distance;
            bomb.y += distance;
            bomb.carry = 0.0f;
        }
    }

    if (rendering) {
        // The finished frame reaches the window in one copy.
        BitBlt(dc, 0, 0, width, height, work, 0, 0, SRCCOPY);
        DeleteDC(work);
        if (backdrop)
            DeleteDC(backdropContext);
        DeleteDC(mask);
        DeleteDC(sprite);
    }

    float chance = rendering ? RenderedStartChance : WarmUpStartChance;
    LONG threshold = static_cast<LONG>(static_cast<double>(chance) * 32767.0);
    if (NextRandom() <= threshold) {
        for (LONG i = 0; i < used; ++i) {
            if (!BombField[i].active) {
                StartBomb(BombField[i]);
                break;
            }
        }
    }

    if (SceneState.warmUpFrames) {
        --SceneState.warmUpFrames;
        return 0;
    }
    if (SaverSettings.BombsOnly)
        return 0;
    ++SceneState.frameCount;
    return SceneState.frameCount >= SceneState.frameBudget ? 1 : 0;
}
