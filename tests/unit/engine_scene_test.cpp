// The scene cycle: how long each phase lasts, which picture comes next, the
// order of paints through a whole cycle, and what a composed frame shows.
#include "engine_fixture.h"

#include <array>

namespace {

class SceneTest : public EngineTest {
protected:
    void StoreScreenDelay(DWORD delay)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
        RegSetValueExA(key, "ScreenDelay", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&delay), 4);
        RegCloseKey(key);
    }

    bool WindowIsBlack()
    {
        for (uint32_t pixel : layer::WindowPixels(window))
            if (pixel)
                return false;
        return true;
    }
};

TEST(FrameBudgetTest, PhasesLastAsLongAsScreenDelaySays)
{
    EXPECT_EQ(78, FrameBudget(1));
    EXPECT_EQ(146, FrameBudget(2));
    EXPECT_EQ(685, FrameBudget(10));
    EXPECT_EQ(1359, FrameBudget(20));  // exact in the formula: not one lower
    EXPECT_EQ(1695, FrameBudget(25));
    EXPECT_EQ(3380, FrameBudget(50));
    EXPECT_EQ(6682, FrameBudget(99));
    EXPECT_EQ(6750, FrameBudget(100));
    for (LONG delay = 1; delay <= 100; ++delay) {
        double exact = 67.3875 * delay + 11.25;
        EXPECT_LE(FrameBudget(delay), exact + 1e-9);
        EXPECT_GT(FrameBudget(delay), exact - 1.0);
    }
}

TEST_F(SceneTest, TheFirstPictureMayBeAnyAndOnlyPictureThreeRepeats)
{
    MakeSaver(64, 48);
    HDC dc = GetDC(window);
    for (HBITMAP &slot : SaverAssets)  // choices only: no pictures to draw
        slot = nullptr;
    struct Case {
        LONG last;
        int firstDraw;
        bool rejected;
        LONG expected;  // -2: anything but `last`
    } cases[] = {
        {-1, 0, false, 0},     {-1, 8191, false, 1},  {-1, 16382, false, 2}, {-1, 24573, false, 3},
        {-1, 32767, false, 3}, {0, 100, true, -2},    {1, 8200, true, -2},   {2, 16400, true, -2},
        {3, 24600, true, -2},  {3, 32764, false, 3},  {0, 32767, false, 3},  {2, 0, false, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "after " << c.last << " draw " << c.firstDraw);
        SceneState.lastPicture = c.last;
        ASSERT_TRUE(SeedForDraw(0, c.firstDraw, [](int, int) { return true; }));
        DWORD afterOne = SaverRandom.state * 214013u + 2531011u;
        EXPECT_EQ(1, ShowRandomPicture(window, dc));
        if (c.rejected) {
            EXPECT_NE(afterOne, SaverRandom.state) << "the rejected draw was used";
            EXPECT_NE(c.last, SceneState.lastPicture);
        } else {
            EXPECT_EQ(afterOne, SaverRandom.state);
            EXPECT_EQ(c.expected, SceneState.lastPicture);
        }
        EXPECT_GE(SceneState.lastPicture, 0);
        EXPECT_LE(SceneState.lastPicture, 3);
        // A missing picture still gets its full time.
        EXPECT_EQ(1, SceneState.pictureShown);
        EXPECT_EQ(0, SceneState.frameCount);
        EXPECT_EQ(FrameBudget(SaverSettings.ScreenDelay), SceneState.frameBudget);
    }
    ReleaseDC(window, dc);
}

TEST_F(SceneTest, EachPhaseTakesItsBudgetPlusOnePaintAndBombsWaitThroughTheSlideshow)
{
    MakeSaver(160, 120);
    StoreScreenDelay(1);  // 78 counted paints a phase
    ReleaseAssets(window);
    LoadSettings();
    ASSERT_EQ(1, LoadAssets(window));
    ASSERT_EQ(1, SaverSettings.ScreenDelay);
    int objectsAtStart = layer::LiveGdiObjects();

    // The first paint prepares: black, the warm-up run silently.
    Paint();
    EXPECT_TRUE(WindowIsBlack());
    EXPECT_EQ(0, SceneState.warmUpFrames);
    EXPECT_EQ(1, SceneState.bombSceneReady);
    int inFlight = 0;
    for (const BombSlot &slot : BombField)
        inFlight += slot.active;
    EXPECT_GT(inFlight, 0) << "the warm-up started no bombs";

    for (int paint = 1; paint <= 78; ++paint) {
        ASSERT_EQ(Bombs, SceneState.phase) << "paint " << paint;
        Paint();
    }
    EXPECT_EQ(Slideshow, SceneState.phase);
    EXPECT_EQ(nullptr, SceneState.workBitmap);
    EXPECT_EQ(nullptr, SceneState.backdropBitmap);
    EXPECT_EQ(nullptr, SceneState.scenePalette);
    EXPECT_EQ(objectsAtStart, layer::LiveGdiObjects());
    std::array<BombSlot, BombSlotCount> frozen;
    std::copy(std::begin(BombField), std::end(BombField), frozen.begin());

    Paint();  // the picture is chosen and shown
    EXPECT_EQ(1, SceneState.pictureShown);
    EXPECT_FALSE(WindowIsBlack());
    for (int paint = 1; paint <= 78; ++paint) {
        ASSERT_EQ(Slideshow, SceneState.phase) << "paint " << paint;
        Paint();
    }
    EXPECT_EQ(Bombs, SceneState.phase);
    EXPECT_EQ(0, SceneState.bombSceneReady);
    EXPECT_EQ(objectsAtStart, layer::LiveGdiObjects());

    // A later bomb phase has no warm-up: its bombs are where they stopped.
    Paint();
    EXPECT_EQ(1, SceneState.bombSceneReady);
    for (int i = 0; i < BombSlotCount; ++i) {
        ASSERT_EQ(frozen[i].active, BombField[i].active) << i;
        ASSERT_EQ(frozen[i].x, BombField[i].x) << i;
        ASSERT_EQ(frozen[i].y, BombField[i].y) << i;
    }
    EXPECT_TRUE(WindowIsBlack());
}

TEST_F(SceneTest, BombsOnlyNeverReachesTheSlideshow)
{
    MakeSaver(96, 72);
    SaverSettings.ScreenDelay = 1;
    SaverSettings.BombsOnly = 1;
    for (int paint = 0; paint < 400; ++paint)
        Paint();
    EXPECT_EQ(Bombs, SceneState.phase);
    EXPECT_EQ(0, SceneState.frameCount);
}

TEST_F(SceneTest, EmptyPictureSlotsPaintWithoutFailing)
{
    MakeSaver(96, 72);
    ReleaseAssets(window);
    layer::InjectFault("LoadImageA:117");
    EXPECT_EQ(0, LoadAssets(window));
    for (HBITMAP slot : SaverAssets)
        ASSERT_EQ(nullptr, slot);
    SaverSettings.ScreenDelay = 1;
    for (int paint = 0; paint < 400; ++paint)
        Paint();
    EXPECT_TRUE(IsWindow(window));
}

// The frame the field should show, worked out from the pictures themselves:
// backdrop AND mask OR sprite at every clipped bomb, through the sprite's table.
std::vector<uint32_t> ExpectedFrame(int width, int height, bool backdrop)
{
    auto indices = [](HBITMAP bitmap, int *w, int *h) {
        DIBSECTION section = {};
        GetObjectA(bitmap, sizeof section, &section);
        *w = section.dsBm.bmWidth;
        *h = section.dsBm.bmHeight;
        std::vector<BYTE> rows(size_t(*w) * *h);
        const BYTE *bits = static_cast<const BYTE *>(section.dsBm.bmBits);
        for (int y = 0; y < *h; ++y)  // stored bottom-up
            for (int x = 0; x < *w; ++x)
                rows[size_t(y) * *w + x] = bits[size_t(*h - 1 - y) * section.dsBm.bmWidthBytes + x];
        return rows;
    };
    int bw, bh, sw, sh, mw, mh;
    std::vector<BYTE> back = indices(SaverAssets[BackdropSlot], &bw, &bh);
    std::vector<BYTE> sprite = indices(SaverAssets[SpriteSlot], &sw, &sh);
    std::vector<BYTE> mask = indices(SaverAssets[MaskSlot], &mw, &mh);
    std::vector<BYTE> frame(size_t(width) * height, 0);
    if (backdrop)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                frame[size_t(y) * width + x] = back[size_t(y) * bw + x];
    for (int i = 0; i < SaverSettings.BombCount; ++i) {
        const BombSlot &bomb = BombField[i];
        if (!bomb.active)
            continue;
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x) {
                int fx = bomb.x + x, fy = bomb.y + y;
                if (fx < 0 || fy < 0 || fx >= width || fy >= height)
                    continue;
                BYTE &pixel = frame[size_t(fy) * width + fx];
                if (backdrop)
                    pixel &= mask[size_t(y) * mw + x];
                pixel |= sprite[size_t(y) * sw + x];
            }
    }
    HDC memory = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(memory, SaverAssets[SpriteSlot]);
    RGBQUAD table[256];
    GetDIBColorTable(memory, 0, 256, table);
    SelectObject(memory, old);
    DeleteDC(memory);
    std::vector<uint32_t> colours(frame.size());
    for (size_t i = 0; i < frame.size(); ++i) {
        const RGBQUAD &c = table[frame[i]];
        colours[i] = uint32_t(c.rgbRed) << 16 | uint32_t(c.rgbGreen) << 8 | c.rgbBlue;
    }
    return colours;
}

TEST_F(SceneTest, AComposedFrameIsBackdropAndMaskAndSpriteAtTheClippedPlaces)
{
    for (LONG backdrop : {1, 0}) {
        SCOPED_TRACE(backdrop ? "over the backdrop" : "over black");
        MakeSaver(640, 480);
        SaverSettings.BombBackdrop = backdrop;
        Paint();  // preparation and warm-up
        for (BombSlot &slot : BombField)
            slot.active = 0;
        // Whole, and cut by every edge; no motion before they are drawn.
        BombField[0] = {100, 100, 1, 0.0f, 0.0f};
        BombField[1] = {-30, 200, 1, 0.0f, 0.0f};
        BombField[2] = {600, -40, 1, 0.0f, 0.0f};
        BombField[3] = {300, 450, 1, 0.0f, 0.0f};
        BombField[4] = {110, 120, 1, 0.0f, 0.0f};  // overlapping the first
        std::vector<uint32_t> expected = ExpectedFrame(640, 480, backdrop != 0);
        ASSERT_TRUE(SeedForDraw(0, 30000, [](int, int) { return true; }));  // no start
        Paint();
        std::vector<uint32_t> shown = layer::WindowPixels(window);
        ASSERT_EQ(expected.size(), shown.size());
        size_t wrong = 0, first = 0;
        for (size_t i = 0; i < shown.size(); ++i)
            if (shown[i] != expected[i] && !wrong++)
                first = i;
        EXPECT_EQ(0u, wrong) << "first at x " << first % 640 << " y " << first / 640;
        ReleaseAssets(window);
        DestroyWindow(window);
        window = nullptr;
    }
}

TEST_F(SceneTest, APreviewShowsTheTopLeftOfTheDesktopSizedScene)
{
    MakeSaver(640, 480);  // registers the saver's class on a 640 x 480 desktop
    DestroyWindow(window);
    HWND panel = MakeHostingWindow(200, 150);
    HostState.previewMode = 1;
    window = CreateWindowExA(0, "EngineTestSaver", "Preview", WS_CHILD | WS_VISIBLE, 0, 0, 160, 120, panel, nullptr,
                             instance, nullptr);
    ASSERT_NE(nullptr, window);
    Paint();  // preparation at desktop size
    for (BombSlot &slot : BombField)
        slot.active = 0;
    BombField[0] = {20, 30, 1, 0.0f, 0.0f};
    BombField[1] = {150, 100, 1, 0.0f, 0.0f};  // cut by the preview's edges, not the scene's
    std::vector<uint32_t> expected = ExpectedFrame(640, 480, true);
    ASSERT_TRUE(SeedForDraw(0, 30000, [](int, int) { return true; }));
    Paint();
    int width = 0, height = 0;
    std::vector<uint32_t> shown = layer::WindowPixels(window, &width, &height);
    ASSERT_EQ(160, width);
    ASSERT_EQ(120, height);
    size_t wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            wrong += shown[size_t(y) * width + x] != expected[size_t(y) * 640 + x];
    EXPECT_EQ(0u, wrong);
}

}  // namespace
