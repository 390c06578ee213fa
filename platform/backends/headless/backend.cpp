// A desktop that exists only in memory. Window handles are small even
// numbers, as on Windows; nothing is shown and no input arrives except what
// tests inject through the hooks.
#include "backends/backend.h"

#include <poll.h>
#include <time.h>

#include "session/termination.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>
#include <string>

namespace layer {
namespace {

class HeadlessBackend final : public Backend {
public:
    HeadlessBackend(int width, int height, const std::vector<Monitor> &monitors)
        : width_(width), height_(height), monitors_(monitors) {
        if (monitors_.empty()) return;
        RECT bounds = monitors_.front().rect;
        for (const Monitor &m : monitors_) {
            bounds.left = std::min(bounds.left, m.rect.left);
            bounds.top = std::min(bounds.top, m.rect.top);
            bounds.right = std::max(bounds.right, m.rect.right);
            bounds.bottom = std::max(bounds.bottom, m.rect.bottom);
        }
        width_ = bounds.right - bounds.left;
        height_ = bounds.bottom - bounds.top;
    }

    const char *Name() const override { return "headless"; }

    void ScreenSize(int *width, int *height) override {
        *width = width_;
        *height = height_;
    }
    std::vector<Monitor> Monitors() override {
        if (monitors_.empty()) return Backend::Monitors();
        return monitors_;
    }

    uintptr_t DesktopWindow() override { return kDesktop; }

    uintptr_t CreateNativeWindow(const NativeWindowRequest &) override {
        // Handles are never reused within one desktop, so a stale handle
        // kept by a caller stays invalid instead of naming a newer window.
        uintptr_t handle = next_;
        next_ += 2;
        live_.insert(handle);
        return handle;
    }
    void DestroyNativeWindow(uintptr_t window) override { live_.erase(window); }
    void ShowNativeWindow(uintptr_t, bool) override {}
    void SetNativeTitle(uintptr_t, const std::string &) override {}
    void RaiseNativeWindow(uintptr_t) override {}
    void Present(uintptr_t, const uint32_t *, int, int, const std::vector<RECT> &) override {}

    bool WaitForEvents(int timeoutMs, InputSink &) override {
        // Nothing can ever arrive, so waiting without a limit is waiting for
        // ever, as a thread with an empty queue does on Windows; only a
        // request to end the run (a signal) cuts a wait short.
        if (timeoutMs == 0) return false;
        int wake = TerminationWakeDescriptor();
        struct timespec start;
        clock_gettime(CLOCK_MONOTONIC, &start);
        for (;;) {
            int left = -1;
            if (timeoutMs > 0) {
                struct timespec now;
                clock_gettime(CLOCK_MONOTONIC, &now);
                long elapsed = (long)(now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
                if (elapsed >= timeoutMs) return false;
                left = timeoutMs - (int)elapsed;
            }
            struct pollfd fd = {wake, POLLIN, 0};
            int ready = poll(&fd, wake >= 0 ? 1 : 0, left);
            if (ready > 0) return false;
            if (ready == 0 && timeoutMs > 0) return false;
        }
    }

    void SetCursorVisible(bool) override {}
    void WarpPointer(int, int) override {}
    bool PointerPosition(int *, int *) override { return false; }

    uintptr_t FindForeignWindow(const char *, const char *) override { return 0; }
    bool IsForeignWindow(uintptr_t) override { return false; }
    bool ForeignWindowRect(uintptr_t, RECT *) override { return false; }

private:
    static constexpr uintptr_t kDesktop = 0x10010;
    int width_;
    int height_;
    std::vector<Monitor> monitors_;
    uintptr_t next_ = 0x10020;
    std::set<uintptr_t> live_;
};

}  // namespace

std::unique_ptr<Backend> CreateHeadlessBackend(int width, int height) {
    return std::make_unique<HeadlessBackend>(width, height, std::vector<Monitor>());
}

std::unique_ptr<Backend> CreateHeadlessBackend(int width, int height, const std::vector<Monitor> &monitors) {
    return std::make_unique<HeadlessBackend>(width, height, monitors);
}

namespace {

// Digits only (no sign, blanks or base of strtol's), at most `limit`.
bool ReadNumber(const char **text, long limit, long *value) {
    const char *p = *text;
    long v = 0;
    if (!std::isdigit((unsigned char)*p)) return false;
    for (; std::isdigit((unsigned char)*p); ++p) {
        v = v * 10 + (*p - '0');
        if (v > limit) return false;
    }
    *value = v;
    *text = p;
    return true;
}

// "+N" or "-N": a monitor may lie left of or above the primary one.
bool ReadOffset(const char **text, long *value) {
    char sign = **text;
    if (sign != '+' && sign != '-') return false;
    ++*text;
    if (!ReadNumber(text, 32767, value)) return false;
    if (sign == '-') *value = -*value;
    return true;
}

bool ReadGeometry(const char **text, RECT *rect) {
    long w, h, x, y;
    if (!ReadNumber(text, 16384, &w) || w < 1) return false;
    if (**text != 'x' && **text != 'X') return false;
    ++*text;
    if (!ReadNumber(text, 16384, &h) || h < 1) return false;
    if (!ReadOffset(text, &x) || !ReadOffset(text, &y)) return false;
    // Screen coordinates stay within what a 16-bit X coordinate holds.
    if (x + w > 32767 || y + h > 32767) return false;
    *rect = {(LONG)x, (LONG)y, (LONG)(x + w), (LONG)(y + h)};
    return true;
}

}  // namespace

bool ParseMonitorGeometry(const char *text, RECT *rect) {
    if (!text) return false;
    RECT r;
    if (!ReadGeometry(&text, &r) || *text) return false;
    *rect = r;
    return true;
}

bool ParseMonitorList(const char *text, std::vector<Monitor> *monitors) {
    constexpr size_t kMostMonitors = 16;
    monitors->clear();
    if (!text || !*text) return false;
    std::vector<Monitor> list;
    for (;;) {
        Monitor m;
        if (list.size() == kMostMonitors || !ReadGeometry(&text, &m.rect)) return false;
        m.work = m.rect;
        m.primary = list.empty();
        m.name = "HEADLESS-" + std::to_string(list.size() + 1);
        list.push_back(m);
        if (!*text) break;
        if (*text++ != ',') return false;
    }
    *monitors = std::move(list);
    return true;
}

}  // namespace layer
