// The least display the layer can stand on in a test: a screen of a given
// size, windows that exist only as numbers, no events, no pointer, no other
// programs. A test's display derives from it and overrides what it watches.
#ifndef VANTREL_TESTS_STUB_DISPLAY_H
#define VANTREL_TESTS_STUB_DISPLAY_H

#include <string>
#include <vector>

#include "platform/session/layer_internal.h"

class StubDisplay : public layer::Backend {
public:
    StubDisplay(int width, int height, uintptr_t firstWindow = 0x200000)
        : width_(width), height_(height), next_(firstWindow) {}
    const char *Name() const override { return "stub"; }
    void ScreenSize(int *width, int *height) override {
        *width = width_;
        *height = height_;
    }
    uintptr_t DesktopWindow() override { return 0x100; }
    uintptr_t CreateNativeWindow(const layer::NativeWindowRequest &) override { return NextWindow(); }
    void DestroyNativeWindow(uintptr_t) override {}
    void ShowNativeWindow(uintptr_t, bool) override {}
    void SetNativeTitle(uintptr_t, const std::string &) override {}
    void RaiseNativeWindow(uintptr_t) override {}
    void Present(uintptr_t, const uint32_t *, int, int, const std::vector<RECT> &) override {}
    bool WaitForEvents(int, layer::InputSink &) override { return false; }
    void SetCursorVisible(bool) override {}
    void WarpPointer(int, int) override {}
    bool PointerPosition(int *, int *) override { return false; }
    uintptr_t FindForeignWindow(const char *, const char *) override { return 0; }
    bool IsForeignWindow(uintptr_t) override { return false; }
    bool ForeignWindowRect(uintptr_t, RECT *) override { return false; }

protected:
    // The value the next native window takes.
    uintptr_t NextWindow() { return next_ += 0x10; }
    // The bounds of a list of rectangles shown together.
    static RECT Bounds(const std::vector<RECT> &rects) {
        RECT bounds = rects.front();
        for (const RECT &r : rects) bounds = layer::RectUnion(bounds, r);
        return bounds;
    }

private:
    int width_, height_;
    uintptr_t next_;
};

#endif
