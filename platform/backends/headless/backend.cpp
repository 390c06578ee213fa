// A desktop that exists only in memory. Window handles are small even
// numbers, as on Windows; nothing is shown and no input arrives except what
// tests inject through the hooks.
#include "backends/backend.h"

#include <poll.h>
#include <time.h>

#include "session/termination.h"

#include <set>

namespace layer {
namespace {

class HeadlessBackend final : public Backend {
public:
    HeadlessBackend(int width, int height) : width_(width), height_(height) {}

    const char *Name() const override { return "headless"; }

    void ScreenSize(int *width, int *height) override {
        *width = width_;
        *height = height_;
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
    uintptr_t next_ = 0x10020;
    std::set<uintptr_t> live_;
};

}  // namespace

std::unique_ptr<Backend> CreateHeadlessBackend(int width, int height) {
    return std::make_unique<HeadlessBackend>(width, height);
}

}  // namespace layer
