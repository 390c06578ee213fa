// Shared set-up for the animation's tests: a headless desktop, the engine's
// records at their window-creation values, and a way to make the random
// generator hand out chosen numbers.
#ifndef VANTREL_TESTS_ENGINE_FIXTURE_H
#define VANTREL_TESTS_ENGINE_FIXTURE_H

#include "host_fixture.h"

#include "engine/engine.h"
#include "settings/settings.h"

// The generator's step, run backwards: the state before `state`.
inline DWORD PreviousRandomState(DWORD state)
{
    DWORD inverse = 214013u;  // Newton's iteration for the inverse modulo 2^32
    for (int i = 0; i < 5; ++i)
        inverse *= 2u - 214013u * inverse;
    return (state - 2531011u) * inverse;
}

inline int DrawOf(DWORD state)
{
    return static_cast<int>((state >> 16) & 0x7FFF);
}

// Seeds the generator so that draw number `index` (0-based) of the next
// draws is `value` and the earlier draws satisfy `earlier(draw index, draw)`.
template <typename Accept>
bool SeedForDraw(int index, int value, Accept earlier)
{
    for (DWORD low = 0; low < 0x20000; ++low) {
        DWORD target = (DWORD(value) << 16) | (low & 0xFFFF) | ((low >> 16) << 31);
        std::vector<DWORD> states = {target};
        for (int i = 0; i < index; ++i)
            states.insert(states.begin(), PreviousRandomState(states.front()));
        bool ok = true;
        for (int i = 0; i < index && ok; ++i)
            ok = earlier(i, DrawOf(states[i]));
        if (ok) {
            SeedRandom(PreviousRandomState(states.front()));
            return true;
        }
    }
    return false;
}

class EngineTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        SaverSettings = SaverSettingsRecord{};
        SceneState = SceneStateRecord{};
        for (BombSlot &slot : BombField)
            slot = BombSlot{};
        for (HBITMAP &slot : SaverAssets)
            slot = nullptr;
        SceneState.screenWidth = 640;
        SceneState.screenHeight = 480;
        SceneState.spriteWidth = 65;
        SceneState.spriteHeight = 65;
        SceneState.lastPicture = -1;
    }

    void TearDown() override
    {
        if (window)
            ReleaseAssets(window);
        HostTest::TearDown();
    }

    // A full-screen window of the desktop's size whose procedure is the
    // saver's own, loaded as at creation; returns its paint DC (CS_OWNDC).
    HWND MakeSaver(int width = 640, int height = 480)
    {
        layer::ResetHeadless(width, height);
        layer::SetTickCount(1000);
        ScriptIdle({});
        WNDCLASSA saverClass = {};
        saverClass.style = CS_OWNDC;
        saverClass.lpfnWndProc = HostWindowProc;
        saverClass.hInstance = instance;
        saverClass.lpszClassName = "EngineTestSaver";
        RegisterClassA(&saverClass);
        window = CreateWindowExA(0, "EngineTestSaver", "Screen Saver", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                                 nullptr, nullptr, instance, nullptr);
        return window;
    }

    // One paint of the scene, as a timer tick would cause it.
    void Paint()
    {
        InvalidateRect(window, nullptr, FALSE);
        SendMessageA(window, WM_PAINT, 0, 0);
    }

    HWND window = nullptr;
};

#endif
