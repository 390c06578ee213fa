// The headless desktop's monitor list and a run's monitor, as the
// environment gives them: whatever is read must be a list a desktop can have,
// and the layer must start on it.
#include <layer_hooks.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/session/layer_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    std::vector<layer::Monitor> monitors;
    bool read = layer::ParseMonitorList(text.c_str(), &monitors);
    if (read != !monitors.empty() || monitors.size() > 16)
        __builtin_trap();
    for (const layer::Monitor &m : monitors) {
        long w = m.rect.right - m.rect.left, h = m.rect.bottom - m.rect.top;
        if (w < 1 || h < 1 || w > 16384 || h > 16384 || m.rect.left < -32767 || m.rect.right > 32767)
            __builtin_trap();
    }
    RECT one;
    if (layer::ParseMonitorGeometry(text.c_str(), &one) && (one.right <= one.left || one.bottom <= one.top))
        __builtin_trap();
    if (!read)
        return 0;
    layer::MonitorShare share;
    share.confined = monitors.size() > 1;
    share.monitor = monitors.back();
    layer::ResetLayer(layer::CreateHeadlessBackend(1, 1, monitors), share);
    // The primary's corner is 0,0 and the virtual screen holds every monitor.
    if (GetSystemMetrics(SM_CMONITORS) != (share.confined ? 1 : static_cast<int>(monitors.size())) ||
        GetSystemMetrics(SM_CXSCREEN) < 1 || !MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTONULL))
        __builtin_trap();
    return 0;
}
