// Shared set-up for the host's tests: a fresh headless desktop, a virtual
// clock, an empty registry and a host that has never run.
#ifndef VANTREL_TESTS_HOST_FIXTURE_H
#define VANTREL_TESTS_HOST_FIXTURE_H

#include <gtest/gtest.h>
#include <layer_hooks.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "host/host.h"

class HostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        layer::ResetHeadless(640, 480);
        layer::SetTickCount(1000);
        layer::SetCursorPosition(100, 100);
        HostState = HostStateRecord{};
        MonitorCovers = MonitorCoverRecord{};
        instance = GetModuleHandleA(nullptr);
        HostState.instance = instance;
        ScriptIdle({});  // no loop may wait for ever on the headless desktop
    }

    void TearDown() override
    {
        layer::SetIdleHook(nullptr);
        layer::ResetHeadless(640, 480);
    }

    // Runs `steps` one per idle moment of the message loop; after the last
    // one the window is destroyed and an open dialog ends with -2, so a loop
    // never outlives its script.
    void ScriptIdle(std::vector<std::function<void()>> steps)
    {
        script = std::move(steps);
        stepsRun = 0;
        layer::SetIdleHook([this] {
            if (stepsRun < script.size()) {
                script[stepsRun++]();
            } else if (HWND dialog = layer::ActiveDialog()) {
                scriptRanOut = true;
                EndDialog(dialog, -2);
            } else if (HostState.window && IsWindow(HostState.window)) {
                scriptRanOut = true;
                DestroyWindow(HostState.window);
            }
        });
    }

    static void TurnPasswordOn(DWORD value = 1)
    {
        HKEY desktop;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &desktop, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(desktop, "ScreenSaveUsePassword", 0, REG_DWORD,
                                                reinterpret_cast<const BYTE *>(&value), sizeof value));
        RegCloseKey(desktop);
    }

    // A plain top-level window to stand in for the control panel's preview area.
    HWND MakeHostingWindow(int width = 152, int height = 112)
    {
        WNDCLASSA plain = {};
        plain.lpfnWndProc = DefWindowProcA;
        plain.hInstance = instance;
        plain.lpszClassName = "TestHostingWindow";
        RegisterClassA(&plain);
        HWND window = CreateWindowExA(0, "TestHostingWindow", "Control Panel", WS_POPUP | WS_VISIBLE, 10, 10, width,
                                      height, nullptr, nullptr, instance, nullptr);
        EXPECT_NE(nullptr, window);
        return window;
    }

    HINSTANCE instance = nullptr;
    std::vector<std::function<void()>> script;
    size_t stepsRun = 0;
    bool scriptRanOut = false;
};

template <typename Proc>
FARPROC AsFarProc(Proc proc)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(proc));
}

#endif
