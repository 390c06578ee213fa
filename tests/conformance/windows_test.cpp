// Window life: creation order, the default procedure's answers to close,
// destroy and text, finding windows by class and title, and children that
// go with their parent. The saver's single-instance check and its preview
// mode rest on these.
#include "conformance.h"

namespace {

class Windows : public Win32Test {};

std::string Title(HWND window) {
    char text[128] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

TEST_F(Windows, CreationSendsNcCreateThenCreateThenShowBeforeReturning) {
    std::string cls = RegisterTestClass(RecordingProc);
    HWND window = MakeWindow(cls, WS_POPUP | WS_VISIBLE, "order");
    ASSERT_NE(nullptr, window);
    // Everything below was logged before CreateWindowExA returned.
    int ncCreate = FindSeen(window, WM_NCCREATE);
    int create = FindSeen(window, WM_CREATE);
    ASSERT_GE(ncCreate, 0);
    ASSERT_GE(create, 0);
    EXPECT_LT(ncCreate, create);

    int shown = FindSeen(window, WM_SHOWWINDOW);
    ASSERT_GE(shown, 0) << "a WS_VISIBLE window is shown as it is made";
    EXPECT_GT(shown, create);
    EXPECT_EQ(static_cast<WPARAM>(TRUE), SeenLog()[shown].wParam);
    EXPECT_TRUE(IsWindowVisible(window));

    HWND hidden = MakeWindow(cls, WS_POPUP, "hidden");
    ASSERT_NE(nullptr, hidden);
    EXPECT_GE(FindSeen(hidden, WM_CREATE), 0);
    EXPECT_EQ(-1, FindSeen(hidden, WM_SHOWWINDOW));
    EXPECT_FALSE(IsWindowVisible(hidden));
}

LRESULT CALLBACK RefusingCreateProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Record(window, message, wParam, lParam);
    if (message == WM_CREATE) return -1;
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(Windows, CreateReturningMinusOneFailsTheCreation) {
    std::string cls = RegisterTestClass(RefusingCreateProc);
    HWND window = CreateWindowExA(0, cls.c_str(), "refused", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, NULL, NULL,
                                  Instance(), NULL);
    EXPECT_EQ(nullptr, window);
    ASSERT_FALSE(SeenLog().empty());
    HWND attempted = SeenLog()[0].window;
    EXPECT_GE(FindSeen(attempted, WM_CREATE), 0);
    EXPECT_FALSE(IsWindow(attempted));
    EXPECT_EQ(nullptr, FindWindowA(cls.c_str(), "refused"));
}

TEST_F(Windows, RegisteringAClassNameTwiceFails) {
    std::string cls = RegisterTestClass(RecordingProc);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = RecordingProc;
    wc.hInstance = Instance();
    wc.lpszClassName = cls.c_str();
    SetLastError(0);
    EXPECT_EQ(0, RegisterClassA(&wc));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS), GetLastError());
    // The first registration still works.
    EXPECT_NE(nullptr, MakeWindow(cls, WS_POPUP));
}

TEST_F(Windows, CloseByDefaultDestroysTheWindow) {
    HWND window = MakeQuietWindow();
    SeenLog().clear();
    EXPECT_EQ(0, SendMessageA(window, WM_CLOSE, 0, 0));
    EXPECT_GE(FindSeen(window, WM_DESTROY), 0);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(Windows, DefaultDestroyAnswersZeroAndDoesNotQuit) {
    HWND window = MakeQuietWindow();
    EXPECT_EQ(0, DefWindowProcA(window, WM_DESTROY, 0, 0));
    EXPECT_TRUE(IsWindow(window));
    ASSERT_TRUE(DestroyWindow(window));
    EXPECT_GE(FindSeen(window, WM_DESTROY), 0);

    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) << "only PostQuitMessage quits";
}

TEST_F(Windows, DefaultSetTextChangesTheTitle) {
    std::string cls = RegisterTestClass(RecordingProc);
    HWND window = MakeWindow(cls, WS_POPUP, "before");
    EXPECT_EQ("before", Title(window));
    EXPECT_TRUE(SetWindowTextA(window, "after"));
    EXPECT_EQ("after", Title(window));
    EXPECT_EQ(window, FindWindowA(cls.c_str(), "after"));
    EXPECT_EQ(nullptr, FindWindowA(cls.c_str(), "before"));
}

LRESULT CALLBACK RefusingTextProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT) return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(Windows, RefusedSetTextKeepsTheCreationTitleFindable) {
    std::string cls = RegisterTestClass(RefusingTextProc);
    HWND window = MakeWindow(cls, WS_POPUP, "Screen Saver");
    EXPECT_FALSE(SetWindowTextA(window, "Renamed"));
    EXPECT_EQ("Screen Saver", Title(window));
    EXPECT_EQ(window, FindWindowA(cls.c_str(), "Screen Saver"));
    EXPECT_EQ(nullptr, FindWindowA(cls.c_str(), "Renamed"));
}

TEST_F(Windows, FindWindowMatchesClassAndTitleOfLiveTopLevelWindows) {
    std::string cls = RegisterTestClass(RecordingProc);
    std::string otherCls = RegisterTestClass(RecordingProc);
    HWND window = MakeWindow(cls, WS_POPUP, "Screen Saver");
    HWND other = MakeWindow(otherCls, WS_POPUP, "Preview");

    EXPECT_EQ(window, FindWindowA(cls.c_str(), "Screen Saver"));
    EXPECT_EQ(nullptr, FindWindowA(cls.c_str(), "Preview"));
    EXPECT_EQ(nullptr, FindWindowA(otherCls.c_str(), "Screen Saver"));
    EXPECT_EQ(other, FindWindowA(otherCls.c_str(), "Preview"));

    ASSERT_TRUE(DestroyWindow(window));
    EXPECT_EQ(nullptr, FindWindowA(cls.c_str(), "Screen Saver"));
    EXPECT_EQ(nullptr, FindWindowA("VantrelConfNoSuchClass", "Screen Saver"));
}

TEST_F(Windows, ChildKnowsItsParentAndFillsTheGivenSize) {
    HWND parent = MakeWindow(RegisterTestClass(RecordingProc), WS_POPUP, "parent", 0, 0, 200, 150);
    RECT parentClient;
    ASSERT_TRUE(GetClientRect(parent, &parentClient));
    std::string childCls = RegisterTestClass(RecordingProc);
    HWND child = MakeWindow(childCls, WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, "Preview", 0, 0, parentClient.right,
                            parentClient.bottom, parent);
    ASSERT_NE(nullptr, child);

    EXPECT_EQ(parent, GetParent(child));
    RECT client = {-1, -1, -1, -1};
    ASSERT_TRUE(GetClientRect(child, &client));
    EXPECT_EQ(0, client.left);
    EXPECT_EQ(0, client.top);
    EXPECT_EQ(parentClient.right, client.right);
    EXPECT_EQ(parentClient.bottom, client.bottom);
    EXPECT_EQ(nullptr, FindWindowA(childCls.c_str(), "Preview")) << "FindWindowA looks at top-level windows only";
}

TEST_F(Windows, DestroyingTheParentDestroysTheChild) {
    HWND parent = MakeWindow(RegisterTestClass(RecordingProc), WS_POPUP, "parent", 0, 0, 200, 150);
    HWND child = MakeWindow(RegisterTestClass(RecordingProc), WS_CHILD | WS_VISIBLE, "child", 0, 0, 100, 80, parent);
    ASSERT_NE(nullptr, child);
    SeenLog().clear();

    ASSERT_TRUE(DestroyWindow(parent));
    int parentDestroy = FindSeen(parent, WM_DESTROY);
    int childDestroy = FindSeen(child, WM_DESTROY);
    ASSERT_GE(childDestroy, 0);
    EXPECT_LT(parentDestroy, childDestroy) << "the parent hears WM_DESTROY first";
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(IsWindow(parent));
}

}  // namespace
