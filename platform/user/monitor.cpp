// Monitors as Windows has them: the primary one's corner is 0,0 (the layer
// turns the display's coordinates so, backends/display_view.cpp), the
// others lie around it, and the virtual screen is what bounds them all.
// The display says what the monitors are; the layer keeps its answer until
// the display reports a change.
#include <cstring>
#include <vector>

#include "gdi/gdi_internal.h"
#include "session/layer_internal.h"

namespace layer {

namespace {

// Monitor handles are the monitor's place in the list, from a base that no
// other kind of handle of the layer uses.
constexpr uintptr_t kMonitorBase = 0x7E000001;

HMONITOR HandleOf(size_t index) { return (HMONITOR)(kMonitorBase + index); }

const Monitor *MonitorOf(HMONITOR handle) {
    const std::vector<Monitor> &monitors = S().monitors;
    uintptr_t v = (uintptr_t)handle;
    if (v < kMonitorBase || v - kMonitorBase >= monitors.size()) return nullptr;
    return &monitors[v - kMonitorBase];
}

long long Area(const RECT &r) {
    if (RectIsEmpty(r)) return 0;
    return (long long)(r.right - r.left) * (r.bottom - r.top);
}

// How far a point lies outside a rectangle along each axis, squared and
// added: 0 inside.
long long DistanceSquared(const RECT &r, POINT p) {
    long long dx = p.x < r.left ? r.left - p.x : p.x >= r.right ? p.x - (r.right - 1) : 0;
    long long dy = p.y < r.top ? r.top - p.y : p.y >= r.bottom ? p.y - (r.bottom - 1) : 0;
    return dx * dx + dy * dy;
}

long long RectDistanceSquared(const RECT &a, const RECT &b) {
    long long dx = b.right <= a.left ? a.left - b.right + 1 : b.left >= a.right ? b.left - a.right + 1 : 0;
    long long dy = b.bottom <= a.top ? a.top - b.bottom + 1 : b.top >= a.bottom ? b.top - a.bottom + 1 : 0;
    return dx * dx + dy * dy;
}

HMONITOR Fallback(DWORD flags, const std::function<long long(const Monitor &)> &distance) {
    const std::vector<Monitor> &monitors = S().monitors;
    if (flags & MONITOR_DEFAULTTOPRIMARY) return HandleOf(0);
    if (!(flags & MONITOR_DEFAULTTONEAREST)) return nullptr;
    size_t best = 0;
    for (size_t i = 1; i < monitors.size(); ++i)
        if (distance(monitors[i]) < distance(monitors[best])) best = i;
    return HandleOf(best);
}

// The monitor a rectangle overlaps most, the first of equals; else as the
// flags say.
HMONITOR FromRect(const RECT &rect, DWORD flags) {
    const std::vector<Monitor> &monitors = S().monitors;
    // An empty rectangle is taken at its corner.
    RECT r = rect;
    if (r.right <= r.left) r.right = r.left + 1;
    if (r.bottom <= r.top) r.bottom = r.top + 1;
    long long bestArea = 0;
    HMONITOR best = nullptr;
    for (size_t i = 0; i < monitors.size(); ++i) {
        long long area = Area(RectIntersection(monitors[i].rect, r));
        if (area > bestArea) {
            bestArea = area;
            best = HandleOf(i);
        }
    }
    if (best) return best;
    return Fallback(flags, [&](const Monitor &m) { return RectDistanceSquared(m.rect, r); });
}


// Windows names its monitors by device, the primary first here.
std::string DeviceName(size_t index) { return "\\\\.\\DISPLAY" + std::to_string(index + 1); }

BOOL GetInfo(HMONITOR monitor, LPMONITORINFO info, bool wide) {
    EnsureStarted();
    if (!info) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size_t extended = wide ? sizeof(MONITORINFOEXW) : sizeof(MONITORINFOEXA);
    // A size it does not know is refused without a word, as Wine does.
    if (info->cbSize != sizeof(MONITORINFO) && info->cbSize != extended) return FALSE;
    const Monitor *m = MonitorOf(monitor);
    if (!m) {
        SetLastError(ERROR_INVALID_MONITOR_HANDLE);
        return FALSE;
    }
    size_t index = (size_t)(m - S().monitors.data());
    info->rcMonitor = m->rect;
    info->rcWork = m->work;
    info->dwFlags = m->primary ? MONITORINFOF_PRIMARY : 0;
    if (info->cbSize == extended) {
        std::string name = DeviceName(index);
        if (wide) {
            WCHAR *out = ((MONITORINFOEXW *)info)->szDevice;
            size_t i = 0;
            for (; i < name.size() && i + 1 < CCHDEVICENAME; ++i) out[i] = (WCHAR)(unsigned char)name[i];
            out[i] = 0;
        } else {
            CHAR *out = ((MONITORINFOEXA *)info)->szDevice;
            std::strncpy(out, name.c_str(), CCHDEVICENAME - 1);
            out[CCHDEVICENAME - 1] = 0;
        }
    }
    return TRUE;
}

}  // namespace

void RefreshMonitors() {
    State &s = S();
    std::vector<Monitor> monitors = s.backend->Monitors();
    // A display that reports nothing usable is one monitor the size of the
    // screen, as the backend's own fallback has it.
    std::vector<Monitor> usable;
    for (const Monitor &m : monitors)
        if (!RectIsEmpty(m.rect)) usable.push_back(m);
    if (usable.empty()) usable = s.backend->Backend::Monitors();
    for (size_t i = 0; i < usable.size(); ++i) {
        usable[i].primary = i == 0;
        RECT work = RectIntersection(usable[i].work, usable[i].rect);
        usable[i].work = RectIsEmpty(work) ? usable[i].rect : work;
    }
    s.monitors = usable;
    const RECT &primary = usable.front().rect;
    s.screenWidth = primary.right - primary.left;
    s.screenHeight = primary.bottom - primary.top;
    RECT bounds = primary;
    for (const Monitor &m : usable) bounds = RectUnion(bounds, m.rect);
    s.virtualScreen = bounds;
    if (Window *desktop = FindWindowRecord(s.desktop)) {
        desktop->rect = {0, 0, s.screenWidth, s.screenHeight};
        desktop->client = desktop->rect;
    }
}

}  // namespace layer

using namespace layer;

extern "C" {

BOOL WINAPI EnumDisplayMonitors(HDC hdc, LPCRECT lprcClip, MONITORENUMPROC lpfnEnum, LPARAM dwData) {
    EnsureStarted();
    if (!lpfnEnum) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // With a DC, monitors are given in its coordinates and only where it
    // can draw: a window's client area, a memory DC's bitmap.
    POINT origin = {0, 0};
    RECT area = S().virtualScreen;
    if (hdc) {
        DeviceContext *dc = DcFromHandle(hdc);
        if (!dc) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (dc->window) {
            Window *w = FindWindowRecord(dc->window);
            if (!w) return FALSE;
            origin = ClientOrigin(w);
            area = {0, 0, w->client.right - w->client.left, w->client.bottom - w->client.top};
        } else {
            Surface surface;
            area = DcSurface(dc, &surface) ? RECT{0, 0, surface.width, surface.height} : RECT{0, 0, 0, 0};
        }
    }
    if (lprcClip) area = RectIntersection(area, *lprcClip);
    // The callback may do anything, so it walks a copy.
    std::vector<Monitor> monitors = S().monitors;
    for (size_t i = 0; i < monitors.size(); ++i) {
        RECT r = monitors[i].rect;
        r = {r.left - origin.x, r.top - origin.y, r.right - origin.x, r.bottom - origin.y};
        if (hdc || lprcClip) {
            r = RectIntersection(r, area);
            if (RectIsEmpty(r)) continue;
        }
        if (!lpfnEnum(HandleOf(i), hdc, &r, dwData)) return FALSE;
    }
    return TRUE;
}

HMONITOR WINAPI MonitorFromPoint(POINT pt, DWORD dwFlags) {
    EnsureStarted();
    const std::vector<Monitor> &monitors = S().monitors;
    for (size_t i = 0; i < monitors.size(); ++i)
        if (RectContains(monitors[i].rect, pt.x, pt.y)) return HandleOf(i);
    return Fallback(dwFlags, [&](const Monitor &m) { return DistanceSquared(m.rect, pt); });
}

HMONITOR WINAPI MonitorFromRect(LPCRECT lprc, DWORD dwFlags) {
    EnsureStarted();
    if (!lprc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return FromRect(*lprc, dwFlags);
}

HMONITOR WINAPI MonitorFromWindow(HWND hwnd, DWORD dwFlags) {
    EnsureStarted();
    RECT r;
    // No such window: the primary or none, as the flags say.
    if (!GetWindowRect(hwnd, &r)) {
        if (!(dwFlags & (MONITOR_DEFAULTTOPRIMARY | MONITOR_DEFAULTTONEAREST))) return nullptr;
        return FromRect({0, 0, 1, 1}, dwFlags);
    }
    return FromRect(r, dwFlags);
}

BOOL WINAPI GetMonitorInfoA(HMONITOR hMonitor, LPMONITORINFO lpmi) { return GetInfo(hMonitor, lpmi, false); }

BOOL WINAPI GetMonitorInfoW(HMONITOR hMonitor, LPMONITORINFO lpmi) { return GetInfo(hMonitor, lpmi, true); }

}  // extern "C"
