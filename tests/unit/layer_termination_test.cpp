// SIGTERM and SIGINT end a run the way the program ends its own: windows
// destroyed with their messages, the loop left with status 0.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "layer_fixture.h"
#include "platform/session/termination.h"

class LayerTerminationTest : public LayerTest {
protected:
    void SetUp() override {
        LayerTest::SetUp();
        layer::InstallTerminationHandlers();
        RegisterLogging("Top");
        RegisterLogging("Kid");
        // As the saver does: the main window's end is the loop's end.
        handler() = [this](HWND hwnd, UINT msg, WPARAM, LPARAM, LRESULT *) {
            if (msg == WM_DESTROY && hwnd == top) PostQuitMessage(0);
            return false;
        };
    }
    void TearDown() override {
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        LayerTest::TearDown();
    }

    // The program's loop; what WM_QUIT carried.
    static WPARAM RunLoop() {
        MSG m = {};
        while (GetMessageA(&m, nullptr, 0, 0) > 0) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        return m.wParam;
    }

    static bool Destroyed(HWND hwnd) {
        for (const LoggedMessage &m : log())
            if (m.hwnd == hwnd && m.message == WM_DESTROY) return true;
        return false;
    }

    HWND top = nullptr;
};

TEST_F(LayerTerminationTest, SigtermDestroysEveryWindowAndTheLoopEndsWithZero) {
    top = MakeWindow("Top", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100);
    HWND child = MakeWindow("Kid", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, top);
    HWND owned = MakeWindow("Kid", WS_POPUP | WS_VISIBLE, 10, 10, 50, 50, top);
    ASSERT_TRUE(top && child && owned);
    SetTimer(top, 1, 50, nullptr);
    raise(SIGTERM);

    EXPECT_EQ(0u, RunLoop());
    EXPECT_FALSE(IsWindow(top));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(IsWindow(owned));
    EXPECT_TRUE(Destroyed(top));
    EXPECT_TRUE(Destroyed(child));
    EXPECT_TRUE(Destroyed(owned));
    // A second signal is the system's again: a hung exit can still be cut short.
    struct sigaction now = {};
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(SIG_DFL, now.sa_handler);
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(SIG_DFL, now.sa_handler);
}

TEST_F(LayerTerminationTest, SigintEndsALoopThatHasNoWindowWithZero) {
    raise(SIGINT);
    EXPECT_EQ(0u, RunLoop());
}

TEST_F(LayerTerminationTest, AWaitWithNothingToWaitForWakesUp) {
    // No timer and no input can ever come on this desktop: without the
    // signal this loop would wait for ever.
    top = MakeWindow("Top", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100);
    ASSERT_NE(nullptr, top);
    LayerTest::Pump();
    std::thread sender([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        kill(getpid(), SIGTERM);
    });
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(0u, RunLoop());
    sender.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_FALSE(IsWindow(top));
}

TEST_F(LayerTerminationTest, AResetForgetsARequestNotYetActedOn) {
    raise(SIGTERM);
    layer::ResetHeadless(640, 480);
    RegisterLogging("Top");
    top = MakeWindow("Top", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100);
    ASSERT_NE(nullptr, top);
    LayerTest::Pump();
    EXPECT_TRUE(IsWindow(top));
}
