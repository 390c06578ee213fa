// The saver's entry fed arbitrary command lines: the switch scan, the window
// number, and whichever mode that selects, on a headless desktop where any
// window or dialog the run makes is closed as soon as its loop goes idle.
#include <layer_hooks.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "host/host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string fullLine(reinterpret_cast<const char *>(data), size);

    layer::ResetHeadless(64, 48);
    layer::SetTickCount(1000);
    layer::SetIdleHook([] {
        if (HWND dialog = layer::ActiveDialog())
            EndDialog(dialog, 0);
        else if (HostState.window && IsWindow(HostState.window))
            DestroyWindow(HostState.window);
        else
            PostQuitMessage(0);
    });
    // A window for preview and password numbers to name, now and then.
    WNDCLASSA plain = {};
    plain.lpfnWndProc = DefWindowProcA;
    plain.lpszClassName = "FuzzPanel";
    RegisterClassA(&plain);
    CreateWindowExA(0, "FuzzPanel", "Panel", WS_POPUP | WS_VISIBLE, 0, 0, 32, 24, nullptr, nullptr, nullptr, nullptr);

    HostState = HostStateRecord{};
    LPCSTR tail = SaverCommandTail(fullLine.c_str());
    int result = SaverMain(GetModuleHandleA(nullptr), nullptr, tail, SW_SHOWNORMAL);
    if (result != 0 && result != -1)
        __builtin_trap();  // every mode answers 0 or -1; a dialog cancelled answers 0
    ParseDecimal(fullLine.c_str());
    layer::SetIdleHook(nullptr);
    return 0;
}
