// The posted-message queue and synchronous sends: the saver's loop and its
// close path depend on order, filters and failure on dead windows.
#include "conformance.h"

namespace {

constexpr UINT kFirst = WM_APP + 1;
constexpr UINT kSecond = WM_APP + 2;
constexpr UINT kThird = WM_APP + 3;

class Messages : public Win32Test {};

TEST_F(Messages, PostedMessagesComeOutInTheOrderPostedWithTheirParameters) {
    HWND window = MakeQuietWindow();
    ASSERT_TRUE(PostMessageA(window, kFirst, 11, 111));
    ASSERT_TRUE(PostMessageA(window, kSecond, 22, 222));
    ASSERT_TRUE(PostMessageA(window, kThird, 33, 333));

    const UINT expected[] = {kFirst, kSecond, kThird};
    for (int i = 0; i < 3; ++i) {
        MSG msg = {};
        ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) << "message " << i;
        EXPECT_EQ(window, msg.hwnd);
        EXPECT_EQ(expected[i], msg.message);
        EXPECT_EQ(static_cast<WPARAM>(11 * (i + 1)), msg.wParam);
        EXPECT_EQ(static_cast<LPARAM>(111 * (i + 1)), msg.lParam);
    }
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
}

TEST_F(Messages, WindowFilterSeesOnlyThatWindowWhileNullSeesEverything) {
    HWND one = MakeQuietWindow();
    HWND two = MakeQuietWindow();
    ASSERT_TRUE(PostMessageA(one, kFirst, 1, 0));
    ASSERT_TRUE(PostMessageA(two, kSecond, 2, 0));
    ASSERT_TRUE(PostMessageA(NULL, kThird, 3, 0));  // a thread message
    ASSERT_TRUE(PostMessageA(one, kFirst, 4, 0));

    MSG msg = {};
    ASSERT_TRUE(PeekMessageA(&msg, two, 0, 0, PM_REMOVE));
    EXPECT_EQ(two, msg.hwnd);
    EXPECT_EQ(2u, msg.wParam);
    EXPECT_FALSE(PeekMessageA(&msg, two, 0, 0, PM_REMOVE)) << "a window's filter must not see others' messages";

    ASSERT_TRUE(PeekMessageA(&msg, one, 0, 0, PM_REMOVE));
    EXPECT_EQ(1u, msg.wParam);

    // The unfiltered view takes what is left, thread message included, in order.
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(NULL, msg.hwnd);
    EXPECT_EQ(kThird, msg.message);
    EXPECT_EQ(3u, msg.wParam);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(one, msg.hwnd);
    EXPECT_EQ(4u, msg.wParam);
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
}

TEST_F(Messages, RangeFilterTakesOnlyMessagesInsideTheRange) {
    HWND window = MakeQuietWindow();
    ASSERT_TRUE(PostMessageA(window, WM_APP + 1, 0, 0));
    ASSERT_TRUE(PostMessageA(window, WM_APP + 5, 0, 0));
    ASSERT_TRUE(PostMessageA(window, WM_APP + 6, 0, 0));
    ASSERT_TRUE(PostMessageA(window, WM_APP + 9, 0, 0));

    MSG msg = {};
    ASSERT_TRUE(PeekMessageA(&msg, window, WM_APP + 4, WM_APP + 6, PM_REMOVE));
    EXPECT_EQ(WM_APP + 5u, msg.message);
    ASSERT_TRUE(PeekMessageA(&msg, window, WM_APP + 4, WM_APP + 6, PM_REMOVE));
    EXPECT_EQ(WM_APP + 6u, msg.message);
    EXPECT_FALSE(PeekMessageA(&msg, window, WM_APP + 4, WM_APP + 6, PM_REMOVE));
    // Bounds are inclusive: a one-message range finds exactly that message.
    EXPECT_FALSE(PeekMessageA(&msg, window, WM_APP + 8, WM_APP + 8, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&msg, window, WM_APP + 9, WM_APP + 9, PM_REMOVE));
    EXPECT_EQ(WM_APP + 9u, msg.message);

    // What lay outside the range is still there.
    ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
    EXPECT_EQ(WM_APP + 1u, msg.message);
    EXPECT_FALSE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
}

TEST_F(Messages, NoRemoveLeavesTheMessageAndRemoveTakesIt) {
    HWND window = MakeQuietWindow();
    ASSERT_TRUE(PostMessageA(window, kFirst, 7, 0));
    ASSERT_TRUE(PostMessageA(window, kSecond, 8, 0));

    MSG msg = {};
    ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(kFirst, msg.message);
    ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_NOREMOVE | PM_NOYIELD));
    EXPECT_EQ(kFirst, msg.message) << "peeking twice must show the same message";
    ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE | PM_NOYIELD));
    EXPECT_EQ(kFirst, msg.message);
    EXPECT_EQ(7u, msg.wParam);
    ASSERT_TRUE(PeekMessageA(&msg, window, 0, 0, PM_REMOVE));
    EXPECT_EQ(kSecond, msg.message);
    EXPECT_FALSE(PeekMessageA(&msg, window, 0, 0, PM_NOREMOVE));
}

TEST_F(Messages, PostingToADestroyedWindowFailsAndQueuesNothing) {
    HWND window = MakeQuietWindow();
    ASSERT_TRUE(DestroyWindow(window));
    DrainQueue();

    SetLastError(0);
    EXPECT_FALSE(PostMessageA(window, kFirst, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, NULL, kFirst, kFirst, PM_REMOVE));
}

LRESULT CALLBACK AnsweringProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Record(window, message, wParam, lParam);
    if (message == kFirst) return static_cast<LRESULT>(wParam * 2 + lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(Messages, SendCallsTheProcedureAtOnceAndReturnsItsResult) {
    HWND window = MakeWindow(RegisterTestClass(AnsweringProc), WS_POPUP);
    size_t before = SeenLog().size();
    EXPECT_EQ(45, SendMessageA(window, kFirst, 20, 5));
    int at = FindSeen(window, kFirst, before);
    ASSERT_GE(at, 0) << "the procedure ran before SendMessageA returned";
    EXPECT_EQ(20u, SeenLog()[at].wParam);
    EXPECT_EQ(5, SeenLog()[at].lParam);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, window, kFirst, kFirst, PM_REMOVE)) << "a sent message is not queued";
}

TEST_F(Messages, SendToADestroyedWindowReturnsZero) {
    HWND window = MakeWindow(RegisterTestClass(AnsweringProc), WS_POPUP);
    ASSERT_TRUE(DestroyWindow(window));
    SeenLog().clear();
    SetLastError(0);
    EXPECT_EQ(0, SendMessageA(window, kFirst, 20, 5));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    EXPECT_EQ(-1, FindSeen(window, kFirst));
}

TEST_F(Messages, DispatchDeliversToTheMessagesWindowAndReturnsTheProcedureResult) {
    std::string cls = RegisterTestClass(AnsweringProc);
    HWND one = MakeWindow(cls, WS_POPUP);
    HWND two = MakeWindow(cls, WS_POPUP);
    ASSERT_TRUE(PostMessageA(two, kFirst, 100, 1));

    MSG msg = {};
    ASSERT_TRUE(PeekMessageA(&msg, NULL, kFirst, kFirst, PM_REMOVE));
    SeenLog().clear();
    EXPECT_EQ(201, DispatchMessageA(&msg));
    EXPECT_EQ(0, FindSeen(two, kFirst));
    EXPECT_EQ(-1, FindSeen(one, kFirst));
}

TEST_F(Messages, GetMessageEndsWithQuitAfterEarlierMessages) {
    HWND window = MakeQuietWindow();
    ASSERT_TRUE(PostMessageA(window, kFirst, 0, 0));
    ASSERT_TRUE(PostMessageA(window, kSecond, 0, 0));
    PostQuitMessage(7);

    // The posted messages come first, then GetMessageA reports the quit.
    std::vector<UINT> got;
    MSG msg = {};
    BOOL result;
    while ((result = GetMessageA(&msg, NULL, 0, 0)) != 0 && got.size() < 50) {
        ASSERT_NE(-1, result);
        if (msg.message == kFirst || msg.message == kSecond) got.push_back(msg.message);
        DispatchMessageA(&msg);
    }
    EXPECT_EQ(0, result);
    EXPECT_EQ(static_cast<UINT>(WM_QUIT), msg.message);
    EXPECT_EQ(7u, msg.wParam);
    EXPECT_EQ((std::vector<UINT>{kFirst, kSecond}), got);
    EXPECT_FALSE(PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit is reported once";
}

}  // namespace
