// The bomb field: where bombs start, how fast they go, how they move and
// leave, and how many random numbers each frame takes.
#include "engine_fixture.h"

namespace {

class BombFieldTest : public EngineTest {
protected:
    // A silent step, as during the warm-up: no drawing, the higher start chance.
    int SilentStep()
    {
        SceneState.warmUpFrames = 1;
        return StepBombField(nullptr, nullptr);
    }

    // Seeds so the next silent step starts a bomb whose draw `which` (1 for
    // the position, 2 for the speed) is `value`.
    void ForceStart(int which, int value)
    {
        ASSERT_TRUE(SeedForDraw(which, value, [](int index, int draw) { return index != 0 || draw <= 14745; }));
    }

    static int FreshDraws(DWORD before, DWORD after)
    {
        for (int draws = 0; draws < 10; ++draws) {
            if (before == after)
                return draws;
            before = before * 214013u + 2531011u;
        }
        return -1;
    }
};

TEST_F(BombFieldTest, StartsLieOnThePathDownTheRightEdgeAndAlongTheTop)
{
    SaverSettings.BombCount = 1;
    int rightEdge = 0, lastY = -1, lastX = -1;
    bool turned = false;
    for (int draw = 0; draw <= 32767; ++draw) {
        BombField[0] = BombSlot{};
        ForceStart(1, draw);
        SilentStep();
        const BombSlot &bomb = BombField[0];
        ASSERT_EQ(1, bomb.active);
        // The step has not moved it: a start is moved first in the next call.
        if (bomb.x == 638 && bomb.y >= 2 && bomb.y <= 466) {
            ASSERT_FALSE(turned) << "back on the right edge at draw " << draw;
            ASSERT_GE(bomb.y, lastY);
            lastY = bomb.y;
            ++rightEdge;
        } else {
            ASSERT_EQ(-63, bomb.y) << "draw " << draw;
            ASSERT_GE(bomb.x, 17);
            ASSERT_LE(bomb.x, 639);
            if (!turned) {
                EXPECT_EQ(17, bomb.x) << "the top edge starts at the corner";
            }
            turned = true;
            ASSERT_GE(bomb.x, lastX);
            lastX = bomb.x;
        }
        if (draw == 0) {
            EXPECT_EQ(638, bomb.x);
            EXPECT_EQ(2, bomb.y);
        }
    }
    EXPECT_EQ(639, lastX) << "the largest draw shows one column";
    EXPECT_EQ(466, lastY);
    // Positions 0..464 of 1088 are the right edge: 465/1088 of the draws.
    EXPECT_NEAR(465.0 / 1088.0, rightEdge / 32768.0, 0.001);
}

TEST_F(BombFieldTest, SpeedsSpanTheSettingsRange)
{
    struct Case {
        LONG setting;
        float slowest;
        float fastest;
    } cases[] = {{1, 0.103f, 2.7295f}, {25, 0.175f, 4.6375f}, {50, 0.25f, 6.625f}, {100, 0.4f, 10.6f}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.setting);
        SaverSettings.BombSpeed = c.setting;
        for (int draw : {0, 32767}) {
            BombField[0] = BombSlot{};
            ForceStart(2, draw);
            SilentStep();
            ASSERT_EQ(1, BombField[0].active);
            EXPECT_NEAR(draw ? c.fastest : c.slowest, BombField[0].speed, 2e-6);
            EXPECT_EQ(0.0f, BombField[0].carry);
        }
    }
}

TEST_F(BombFieldTest, BombsMoveWholePixelsDiagonallyAndDropTheFraction)
{
    SaverSettings.BombCount = 2;
    BombField[0] = {300, 100, 1, 2.9f, 0.0f};
    BombField[1] = {300, 100, 1, 0.25f, 0.0f};
    std::vector<LONG> slowX;
    for (int frame = 1; frame <= 8; ++frame) {
        SeedRandom(0);  // first draw 38: a start is attempted, but no slot is free
        SilentStep();
        EXPECT_EQ(300 - 2 * frame, BombField[0].x);
        EXPECT_EQ(100 + 2 * frame, BombField[0].y);
        slowX.push_back(BombField[1].x);
    }
    EXPECT_EQ((std::vector<LONG>{300, 300, 300, 299, 299, 299, 299, 298}), slowX);
    EXPECT_EQ(102, BombField[1].y);
}

TEST_F(BombFieldTest, ASlotIsFreedInTheFrameItsSpriteFirstLiesWhollyOutside)
{
    struct Case {
        const char *name;
        BombSlot bomb;
    } cases[] = {
        {"left", {-64, 100, 1, 1.0f, 0.0f}},    // one column left, then none
        {"bottom", {100, 479, 1, 1.0f, 0.0f}},  // one row left, then none
        {"right", {639, 100, 1, 0.0f, 0.0f}},   // beyond on the right: only a start sees this
        {"top", {100, -64, 1, 0.0f, 0.0f}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SaverSettings.BombCount = 1;
        BombField[0] = c.bomb;
        SeedRandom(1);  // 41 starts nothing: the slot is taken or the freed one reused later
        SilentStep();
        EXPECT_EQ(1, BombField[0].active);
        if (c.bomb.speed == 0.0f) {
            BombField[0].x += (c.bomb.x > 0) ? 1 : 0;
            BombField[0].y -= (c.bomb.y < 0) ? 1 : 0;
        }
        // No start this time, so the freed slot stays free.
        ASSERT_TRUE(SeedForDraw(0, 30000, [](int, int) { return true; }));
        BombSlot moved = BombField[0];
        SilentStep();
        EXPECT_EQ(0, BombField[0].active) << "x " << moved.x << " y " << moved.y;
    }
}

TEST_F(BombFieldTest, AFullFieldDrawsNothingMoreAndStartsNothing)
{
    SaverSettings.BombCount = 3;
    for (int i = 0; i < 3; ++i)
        BombField[i] = {200, 200, 1, 0.5f, 0.0f};
    ASSERT_TRUE(SeedForDraw(0, 100, [](int, int) { return true; }));  // a successful start test
    DWORD before = SaverRandom.state;
    SilentStep();
    EXPECT_EQ(1, FreshDraws(before, SaverRandom.state));
    EXPECT_EQ(0, BombField[3].active) << "a slot beyond BombCount was used";
}

TEST_F(BombFieldTest, AtMostOneStartPerFrameAndThreeDraws)
{
    SaverSettings.BombCount = 200;
    for (int frame = 0; frame < 500; ++frame) {
        int before = 0;
        for (const BombSlot &slot : BombField)
            before += slot.active;
        DWORD state = SaverRandom.state;
        SilentStep();
        int after = 0;
        for (const BombSlot &slot : BombField)
            after += slot.active;
        int draws = FreshDraws(state, SaverRandom.state);
        ASSERT_TRUE(draws == 1 || draws == 3) << draws;
        ASSERT_LE(after, before + 1);
        if (draws == 3) {
            ASSERT_GE(after, 1);
        }
    }
}

TEST_F(BombFieldTest, OneBombAtATimeWithACountOfOne)
{
    SaverSettings.BombCount = 1;
    SeedRandom(12345);
    for (int frame = 0; frame < 3000; ++frame) {
        SilentStep();
        int flying = 0;
        for (const BombSlot &slot : BombField)
            flying += slot.active;
        ASSERT_LE(flying, 1);
        ASSERT_EQ(0, BombField[1].active);
    }
}

TEST_F(BombFieldTest, TheWarmUpNeitherCountsNorEndsThePhase)
{
    SceneState.frameCount = 50;
    SceneState.frameBudget = 50;
    SceneState.warmUpFrames = 3;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(0, StepBombField(nullptr, nullptr));
    EXPECT_EQ(0, SceneState.warmUpFrames);
    EXPECT_EQ(50, SceneState.frameCount);
}

}  // namespace
