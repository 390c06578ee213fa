// The engine's pictures: loading them at window creation, what a missing one
// does, freeing everything at destruction, and the palettes built from them.
#include "host_fixture.h"

#include "engine/engine.h"

namespace {

class AssetsTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        SceneState = SceneStateRecord{};
        for (HBITMAP &slot : SaverAssets)
            slot = nullptr;
        window = MakeHostingWindow(200, 100);
    }

    void TearDown() override
    {
        ReleaseAssets(window);
        HostTest::TearDown();
    }

    HWND window = nullptr;
};

TEST(SaverRandomTest, TheSequenceFromStateOneIsTheClassicOne)
{
    SeedRandom(1);
    EXPECT_EQ(41, NextRandom());
    EXPECT_EQ(18467, NextRandom());
    EXPECT_EQ(6334, NextRandom());
    EXPECT_EQ(26500, NextRandom());
    EXPECT_EQ(19169, NextRandom());
    // Draws stay within 15 bits whatever the state.
    SeedRandom(0xFFFFFFFF);
    for (int i = 0; i < 1000; ++i) {
        int draw = NextRandom();
        ASSERT_GE(draw, 0);
        ASSERT_LE(draw, 32767);
    }
}

TEST_F(AssetsTest, ASuccessfulLoadFillsEverySlotAndResetsTheScene)
{
    SceneState.phase = Slideshow;
    SceneState.pictureShown = 1;
    SceneState.bombSceneReady = 1;
    SceneState.frameCount = 99;
    SceneState.frameBudget = 1234;
    SceneState.warmUpFrames = 3;
    SceneState.lastPicture = 2;
    BombField[0] = {5, 6, 1, 2.5f, 0.5f};
    BombField[199].active = 1;
    layer::SetTickCount(777);

    ASSERT_EQ(1, LoadAssets(window));
    for (int slot = 0; slot < AssetSlotCount; ++slot)
        EXPECT_NE(nullptr, SaverAssets[slot]) << "slot " << slot;
    EXPECT_EQ(Bombs, SceneState.phase);
    EXPECT_EQ(0, SceneState.pictureShown);
    EXPECT_EQ(0, SceneState.bombSceneReady);
    EXPECT_EQ(0, SceneState.frameCount);
    EXPECT_EQ(1234, SceneState.frameBudget) << "the budget belongs to the scene cycle";
    EXPECT_EQ(105, SceneState.warmUpFrames);
    EXPECT_EQ(-1, SceneState.lastPicture);
    EXPECT_EQ(0, BombField[0].active);
    EXPECT_EQ(0, BombField[199].active);
    EXPECT_EQ(5, BombField[0].x) << "only the active flags are cleared";
    EXPECT_EQ(777u, SaverRandom.state) << "seeded with the tick count";
    EXPECT_EQ(nullptr, SceneState.scenePalette);
    EXPECT_EQ(nullptr, SceneState.workBitmap);
    EXPECT_EQ(nullptr, SceneState.backdropBitmap);

    // The sprite's size is the mask's, and every picture is 8-bit.
    BITMAP mask = {};
    ASSERT_NE(0, GetObjectA(SaverAssets[MaskSlot], sizeof mask, &mask));
    EXPECT_EQ(mask.bmWidth, SceneState.spriteWidth);
    EXPECT_EQ(mask.bmHeight, SceneState.spriteHeight);
    EXPECT_EQ(65, SceneState.spriteWidth);
    for (HBITMAP picture : SaverAssets) {
        BITMAP info = {};
        GetObjectA(picture, sizeof info, &info);
        EXPECT_EQ(8, info.bmBitsPixel);
    }
}

TEST_F(AssetsTest, TheFrameTimerRunsEvery66Ms)
{
    ASSERT_EQ(1, LoadAssets(window));
    EXPECT_NE(0, SceneState.timerId);
    MSG tick;
    layer::AdvanceTicks(65);
    EXPECT_FALSE(PeekMessageA(&tick, window, WM_TIMER, WM_TIMER, PM_REMOVE));
    layer::AdvanceTicks(1);
    ASSERT_TRUE(PeekMessageA(&tick, window, WM_TIMER, WM_TIMER, PM_REMOVE));
    EXPECT_EQ(WPARAM(FrameTimerId), tick.wParam);
    ReleaseAssets(window);
    EXPECT_FALSE(KillTimer(window, FrameTimerId)) << "the timer outlived the window's pictures";
}

TEST_F(AssetsTest, TheSceneIsAlwaysDesktopSized)
{
    HWND preview = CreateWindowExA(0, "TestHostingWindow", "Preview", WS_CHILD | WS_VISIBLE, 0, 0, 40, 30, window,
                                   nullptr, instance, nullptr);
    ASSERT_EQ(1, LoadAssets(preview));
    EXPECT_EQ(640, SceneState.screenWidth);
    EXPECT_EQ(480, SceneState.screenHeight);
    ReleaseAssets(preview);
}

TEST_F(AssetsTest, AMissingSpriteIsReportedBySlotAndFreesWhatLoaded)
{
    int objectsBefore = layer::LiveGdiObjects();
    layer::InjectFault("LoadImageA:118");
    layer::InjectFault("LoadImageA:128");  // must still be pending: slot 5 is never tried
    EXPECT_EQ(0, LoadAssets(window));
    auto boxes = layer::MessageBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Unable to load bitmap #4!", boxes[0].text);
    EXPECT_EQ("Vantrel Screen Saver", boxes[0].caption);
    EXPECT_EQ(UINT(MB_OK | MB_ICONWARNING), boxes[0].flags);
    EXPECT_EQ(0x30u, boxes[0].flags);
    EXPECT_EQ(window, boxes[0].owner);
    for (HBITMAP slot : SaverAssets)
        EXPECT_EQ(nullptr, slot);
    EXPECT_EQ(objectsBefore, layer::LiveGdiObjects());
    EXPECT_EQ(0, SceneState.timerId);
    EXPECT_EQ(105, SceneState.warmUpFrames) << "the reset still happened";
    EXPECT_EQ(nullptr, LoadImageA(instance, MAKEINTRESOURCEA(128), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

TEST_F(AssetsTest, AMissingFirstPictureStopsAtOnce)
{
    int objectsBefore = layer::LiveGdiObjects();
    layer::InjectFault("LoadImageA:117");
    layer::InjectFault("LoadImageA:119");
    EXPECT_EQ(0, LoadAssets(window));
    ASSERT_EQ(1u, layer::MessageBoxes().size());
    EXPECT_EQ("Unable to load bitmap #0!", layer::MessageBoxes()[0].text);
    EXPECT_EQ(objectsBefore, layer::LiveGdiObjects());
    EXPECT_EQ(nullptr, LoadImageA(instance, MAKEINTRESOURCEA(119), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION))
        << "slot 1 was tried after slot 0 failed";
}

TEST_F(AssetsTest, AfterAFailedLoadReleasingStopsNoTimerAndFreesNothing)
{
    layer::InjectFault("LoadImageA:130");
    EXPECT_EQ(0, LoadAssets(window));
    // Someone else's timer 204 on this window must survive the release.
    SetTimer(window, FrameTimerId, 500, nullptr);
    int objects = layer::LiveGdiObjects();
    EXPECT_EQ(1, ReleaseAssets(window));
    EXPECT_EQ(objects, layer::LiveGdiObjects());
    EXPECT_TRUE(KillTimer(window, FrameTimerId));
}

TEST_F(AssetsTest, ReleasingFreesEveryGraphicsObjectTheEngineHolds)
{
    int objectsBefore = layer::LiveGdiObjects();
    ASSERT_EQ(1, LoadAssets(window));
    EXPECT_EQ(objectsBefore + AssetSlotCount, layer::LiveGdiObjects());

    // Buffers and a palette as a bomb phase leaves them.
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, SaverAssets[SpriteSlot]);
    BuildScenePalette(screen, memory);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    BITMAPINFO header = {};
    header.bmiHeader = {sizeof(BITMAPINFOHEADER), 8, 8, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void *bits;
    SceneState.workBitmap = CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &bits, nullptr, 0);
    SceneState.backdropBitmap = CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &bits, nullptr, 0);
    SceneState.bombSceneReady = 1;
    ASSERT_NE(nullptr, SceneState.scenePalette);

    EXPECT_EQ(1, ReleaseAssets(window));
    EXPECT_EQ(objectsBefore, layer::LiveGdiObjects());
    EXPECT_EQ(nullptr, SceneState.workBitmap);
    EXPECT_EQ(nullptr, SceneState.backdropBitmap);
    EXPECT_EQ(nullptr, SceneState.scenePalette);
    for (HBITMAP slot : SaverAssets)
        EXPECT_EQ(nullptr, slot);
    EXPECT_EQ(1, SceneState.bombSceneReady) << "phase flags are the scene cycle's";
}

TEST_F(AssetsTest, TheBackdropBufferIsOnlyFreedWhileABombPhaseIsPrepared)
{
    ASSERT_EQ(1, LoadAssets(window));
    BITMAPINFO header = {};
    header.bmiHeader = {sizeof(BITMAPINFOHEADER), 8, 8, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void *bits;
    HBITMAP stray = CreateDIBSection(nullptr, &header, DIB_RGB_COLORS, &bits, nullptr, 0);
    SceneState.backdropBitmap = stray;
    SceneState.bombSceneReady = 0;
    ReleaseAssets(window);
    EXPECT_EQ(stray, SceneState.backdropBitmap);
    EXPECT_TRUE(DeleteObject(stray));
    SceneState.backdropBitmap = nullptr;
}

class ScenePaletteTest : public AssetsTest {
protected:
    void SetUp() override
    {
        AssetsTest::SetUp();
        ASSERT_EQ(1, LoadAssets(window));
        screen = GetDC(window);
        memory = CreateCompatibleDC(screen);
        previous = SelectObject(memory, SaverAssets[SpriteSlot]);
    }

    void TearDown() override
    {
        SelectObject(memory, previous);
        DeleteDC(memory);
        ReleaseDC(window, screen);
        AssetsTest::TearDown();
    }

    HDC screen = nullptr;
    HDC memory = nullptr;
    HGDIOBJ previous = nullptr;
};

TEST_F(ScenePaletteTest, ThePaletteIsTheColourTableTurnedRound)
{
    RGBQUAD table[256];
    ASSERT_EQ(256u, GetDIBColorTable(memory, 0, 256, table));
    BuildScenePalette(screen, memory);
    ASSERT_NE(nullptr, SceneState.scenePalette);
    EXPECT_EQ(0x300, SceneState.paletteBuffer.palVersion);
    EXPECT_EQ(256, SceneState.paletteBuffer.palNumEntries);
    PALETTEENTRY entries[256];
    ASSERT_EQ(256u, GetPaletteEntries(SceneState.scenePalette, 0, 256, entries));
    for (int i = 0; i < 256; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(table[i].rgbRed, entries[i].peRed);
        EXPECT_EQ(table[i].rgbGreen, entries[i].peGreen);
        EXPECT_EQ(table[i].rgbBlue, entries[i].peBlue);
        EXPECT_EQ(PC_NOCOLLAPSE, entries[i].peFlags);
    }
    // The bomb's green sits at 17 in the sprite's table.
    EXPECT_EQ(0, entries[17].peRed);
    EXPECT_EQ(195, entries[17].peGreen);
    EXPECT_EQ(95, entries[17].peBlue);
    // It was selected into the window's context, where it stays.
    HPALETTE selected = SelectPalette(screen, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)), FALSE);
    EXPECT_EQ(SceneState.scenePalette, selected);
}

TEST_F(ScenePaletteTest, AnUnreadableColourTableLeavesThePaletteAsItWas)
{
    HPALETTE earlier = reinterpret_cast<HPALETTE>(0x1234);
    SceneState.scenePalette = earlier;
    layer::InjectFault("GetDIBColorTable");
    BuildScenePalette(screen, memory);
    EXPECT_EQ(earlier, SceneState.scenePalette);

    // A context with no colour table at all does the same.
    HDC empty = CreateCompatibleDC(screen);
    BuildScenePalette(screen, empty);
    DeleteDC(empty);
    EXPECT_EQ(earlier, SceneState.scenePalette);
    SceneState.scenePalette = nullptr;
}

TEST_F(ScenePaletteTest, APaletteThatCannotBeMadeLeavesNone)
{
    SceneState.scenePalette = nullptr;
    layer::InjectFault("CreatePalette");
    BuildScenePalette(screen, memory);
    EXPECT_EQ(nullptr, SceneState.scenePalette);
}

TEST_F(ScenePaletteTest, APaletteThatCannotBeSelectedIsKeptForLater)
{
    layer::InjectFault("SelectPalette");
    BuildScenePalette(screen, memory);
    ASSERT_NE(nullptr, SceneState.scenePalette);
    EXPECT_EQ(OBJ_PAL, GetObjectType(SceneState.scenePalette));
}

}  // namespace
