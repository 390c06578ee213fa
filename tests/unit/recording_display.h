// A display backend for tests that notes what the layer hands it to show,
// and says whether a person is there to see it.
#ifndef VANTREL_TESTS_RECORDING_DISPLAY_H
#define VANTREL_TESTS_RECORDING_DISPLAY_H

#include <string>
#include <utility>
#include <vector>

#include "platform/session/layer_internal.h"

struct DisplayLog {
    std::vector<std::pair<uintptr_t, RECT>> presented;  // window, dirty rectangle
};

class RecordingDisplay final : public layer::Backend {
public:
    explicit RecordingDisplay(DisplayLog *log, bool interactive = false) : log_(log), interactive_(interactive) {}
    const char *Name() const override { return "recording"; }
    bool Interactive() const override { return interactive_; }
    void ScreenSize(int *width, int *height) override {
        *width = 640;
        *height = 480;
    }
    uintptr_t DesktopWindow() override { return 0x100; }
    uintptr_t CreateNativeWindow(const layer::NativeWindowRequest &) override { return next_ += 0x10; }
    void DestroyNativeWindow(uintptr_t) override {}
    void ShowNativeWindow(uintptr_t, bool) override {}
    void SetNativeTitle(uintptr_t, const std::string &) override {}
    void RaiseNativeWindow(uintptr_t) override {}
    // One entry a call: the bounds of what it showed.
    void Present(uintptr_t window, const uint32_t *, int, int, const std::vector<RECT> &dirty) override {
        RECT bounds = dirty.front();
        for (const RECT &r : dirty) bounds = layer::RectUnion(bounds, r);
        log_->presented.push_back({window, bounds});
    }
    bool WaitForEvents(int, layer::InputSink &) override { return false; }
    void SetCursorVisible(bool) override {}
    void WarpPointer(int, int) override {}
    bool PointerPosition(int *, int *) override { return false; }
    uintptr_t FindForeignWindow(const char *, const char *) override { return 0; }
    bool IsForeignWindow(uintptr_t) override { return false; }
    bool ForeignWindowRect(uintptr_t, RECT *) override { return false; }

private:
    DisplayLog *log_;
    bool interactive_;
    uintptr_t next_ = 0x200000;
};

#endif
