// Shared set-up for the layer's own tests: a fresh headless desktop for each
// test, and a window class whose procedure logs what it receives.
#ifndef VANTREL_TESTS_LAYER_FIXTURE_H
#define VANTREL_TESTS_LAYER_FIXTURE_H

#include <gtest/gtest.h>
#include <layer_hooks.h>
#include <windows.h>

#include <functional>
#include <vector>

struct LoggedMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class LayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        layer::ResetHeadless(640, 480);
        log().clear();
        handler() = nullptr;
    }
    void TearDown() override {
        handler() = nullptr;
        layer::ResetHeadless(640, 480);
    }

    static std::vector<LoggedMessage> &log() {
        static std::vector<LoggedMessage> messages;
        return messages;
    }
    // Lets a test answer a message itself; returning false falls through to
    // DefWindowProcA.
    static std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT *)> &handler() {
        static std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT *)> h;
        return h;
    }

    static LRESULT CALLBACK LoggingProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        log().push_back({hwnd, msg, wp, lp});
        LRESULT result = 0;
        if (handler() && handler()(hwnd, msg, wp, lp, &result)) return result;
        return DefWindowProcA(hwnd, msg, wp, lp);
    }

    static void RegisterLogging(const char *name = "LayerTestClass", UINT style = 0, HBRUSH background = nullptr) {
        WNDCLASSA wc = {};
        wc.style = style;
        wc.lpfnWndProc = LoggingProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hbrBackground = background;
        wc.lpszClassName = name;
        ASSERT_NE(0, RegisterClassA(&wc));
    }

    static HWND MakeWindow(const char *cls, DWORD style, int x, int y, int w, int h, HWND parent = nullptr,
                           const char *title = "") {
        return CreateWindowExA(0, cls, title, style, x, y, w, h, parent, nullptr, GetModuleHandleA(nullptr),
                               nullptr);
    }

    static std::vector<UINT> MessagesOf(HWND hwnd) {
        std::vector<UINT> out;
        for (const LoggedMessage &m : log())
            if (m.hwnd == hwnd) out.push_back(m.message);
        return out;
    }

    // Takes everything out of the queue and dispatches it.
    static void Pump() {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
    }
};

#endif
