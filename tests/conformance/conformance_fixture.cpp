#include "conformance.h"

#include <cstdio>

namespace {
std::vector<SeenMessage> seen;
int classSerial = 0;
}  // namespace

std::vector<SeenMessage> &SeenLog() { return seen; }

void Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    seen.push_back({window, message, wParam, lParam});
}

int FindSeen(HWND window, UINT message, size_t from) {
    for (size_t i = from; i < seen.size(); ++i) {
        if (seen[i].window == window && seen[i].message == message) return static_cast<int>(i);
    }
    return -1;
}

int CountSeen(HWND window, UINT message) {
    int count = 0;
    for (const SeenMessage &m : seen) count += (m.window == window && m.message == message);
    return count;
}

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Record(window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

void DrainQueue() {
    MSG msg;
    for (int i = 0; i < 10000 && PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE); ++i) {
        if (msg.message != WM_QUIT) DispatchMessageA(&msg);
    }
}

bool WaitForMessage(MSG *msg, HWND window, UINT first, UINT last, UINT flags, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (PeekMessageA(msg, window, first, last, flags)) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(5);
    }
}

bool NextOf(MSG *msg, std::initializer_list<UINT> wanted) {
    for (int i = 0; i < 1000 && PeekMessageA(msg, NULL, 0, 0, PM_REMOVE); ++i) {
        for (UINT w : wanted) {
            if (msg->message == w) return true;
        }
        DispatchMessageA(msg);
    }
    return false;
}

void Win32Test::SetUp() {
    DrainQueue();
    seen.clear();
}

void Win32Test::TearDown() {
    for (HWND window : windows_) {
        if (IsWindow(window)) DestroyWindow(window);
    }
    DrainQueue();
    for (const std::string &name : classes_) UnregisterClassA(name.c_str(), Instance());
    seen.clear();
}

HINSTANCE Win32Test::Instance() const { return GetModuleHandleA(NULL); }

std::string Win32Test::RegisterTestClass(WNDPROC proc, HBRUSH background, UINT style) {
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    char name[200];
    std::snprintf(name, sizeof name, "VantrelConf%d_%.80s", ++classSerial, info ? info->name() : "x");
    WNDCLASSA wc = {};
    wc.style = style;
    wc.lpfnWndProc = proc;
    wc.hInstance = Instance();
    wc.hbrBackground = background;
    wc.lpszClassName = name;
    EXPECT_NE(0, RegisterClassA(&wc)) << "RegisterClassA " << name << " error " << GetLastError();
    classes_.push_back(name);
    return name;
}

HWND Win32Test::MakeWindow(const std::string &className, DWORD style, const char *title, int x, int y, int width,
                           int height, HWND parent) {
    HWND window = CreateWindowExA(0, className.c_str(), title, style, x, y, width, height, parent, NULL, Instance(),
                                  NULL);
    EXPECT_NE(nullptr, window) << "CreateWindowExA " << className << " error " << GetLastError();
    if (window) windows_.push_back(window);
    return window;
}

HWND Win32Test::MakeQuietWindow() { return MakeWindow(RegisterTestClass(RecordingProc), WS_POPUP); }
