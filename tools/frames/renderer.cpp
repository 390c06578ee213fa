// Drives the real program on the headless desktop. The clock is virtual, so
// a frame costs only the work of painting it: whenever the saver's loop has
// nothing to do, the idle hook gets the frame just painted and the clock
// jumps to the next timer tick, which asks for the next paint.
#include <layer_hooks.h>

#include <string>

#include "frames.h"
#include "host/host.h"
#include "settings/settings.h"

namespace frames {

namespace {

bool StoreSettings(const Options &options)
{
    if (options.settings.empty())
        return true;
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, SettingsKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    bool ok = true;
    for (const auto &[name, value] : options.settings)
        ok = RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&value),
                            sizeof value) == ERROR_SUCCESS &&
             ok;
    RegCloseKey(key);
    return ok;
}

// The control panel's preview area, played by a plain window.
HWND MakeHostingWindow(HINSTANCE instance, int width, int height)
{
    WNDCLASSA plain = {};
    plain.lpfnWndProc = DefWindowProcA;
    plain.hInstance = instance;
    plain.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    plain.lpszClassName = "VantrelFramesPreviewArea";
    RegisterClassA(&plain);
    return CreateWindowExA(0, plain.lpszClassName, "Preview area", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                           nullptr, nullptr, instance, nullptr);
}

}  // namespace

int RunSaver(const Options &options, const FrameCallback &onFrame)
{
    // Memory-only registry: nothing of the user's is read or written.
    layer::ResetHeadless(options.width, options.height);
    HostState = HostStateRecord{};
    if (!StoreSettings(options))
        return -1;
    layer::SetTickCount(options.seed);

    HINSTANCE instance = GetModuleHandleA(nullptr);
    std::string commandLine = "/s";
    HWND hosting = nullptr;
    if (options.preview) {
        hosting = MakeHostingWindow(instance, options.width / 4 > 0 ? options.width / 4 : 1,
                                    options.height / 4 > 0 ? options.height / 4 : 1);
        if (!hosting)
            return -1;
        commandLine = "/p " + std::to_string(reinterpret_cast<UINT_PTR>(hosting));
    }

    // The loop only idles once the paint a tick asked for is done, so every
    // idle moment follows exactly one new frame.
    long painted = 0;
    layer::SetIdleHook([&] {
        HWND saver = HostState.window;
        if (!saver || !IsWindow(saver))
            return;
        if (painted < options.frames)
            onFrame(++painted, saver);
        if (painted >= options.frames)
            DestroyWindow(saver);
    });
    int result = SaverMain(instance, nullptr, commandLine.c_str(), SW_SHOWNORMAL);
    layer::SetIdleHook(nullptr);
    if (hosting && IsWindow(hosting))
        DestroyWindow(hosting);
    return result;
}

}  // namespace frames
