// A display seen through moved coordinates. Windows puts the primary
// monitor's corner at 0,0 and a program creates its full-screen window
// there; an X server counts from the root's corner, which may be on another
// monitor. And a process that saves one monitor of several sees that one as
// the whole screen. Both are the same turn of coordinates, done here once
// for every backend: a point goes to the display plus the origin and comes
// back minus it. Only top-level windows are placed in screen coordinates;
// children are in their parent's and pass unchanged.
#include "backends/backend.h"

#include <set>

namespace layer {
namespace {

RECT Moved(const RECT &r, int dx, int dy) { return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy}; }

class MovedSink final : public InputSink {
public:
    MovedSink(InputSink &sink, POINT origin) : sink_(sink), origin_(origin) {}
    void PointerMoved(int x, int y) override { sink_.PointerMoved(x - origin_.x, y - origin_.y); }
    void ButtonChanged(Button button, bool down) override { sink_.ButtonChanged(button, down); }
    void WheelTurned(int delta, bool horizontal) override { sink_.WheelTurned(delta, horizontal); }
    void KeyChanged(UINT virtualKey, bool down, bool alt) override { sink_.KeyChanged(virtualKey, down, alt); }
    void Exposed(uintptr_t window, const RECT &area) override { sink_.Exposed(window, area); }
    void CloseRequested(uintptr_t window) override { sink_.CloseRequested(window); }
    void NativeWindowGone(uintptr_t window) override { sink_.NativeWindowGone(window); }
    void NativeWindowMoved(uintptr_t window, int x, int y) override {
        sink_.NativeWindowMoved(window, x - origin_.x, y - origin_.y);
    }
    void NativeWindowFocused(uintptr_t window) override { sink_.NativeWindowFocused(window); }
    void DisplayChanged() override { sink_.DisplayChanged(); }

private:
    InputSink &sink_;
    POINT origin_;
};

class ViewedDisplay final : public Backend {
public:
    ViewedDisplay(std::unique_ptr<Backend> display, const DisplayView &view)
        : display_(std::move(display)), view_(view) {}

    const char *Name() const override { return display_->Name(); }

    void ScreenSize(int *width, int *height) override {
        if (view_.confined) {
            *width = view_.only.rect.right - view_.only.rect.left;
            *height = view_.only.rect.bottom - view_.only.rect.top;
            return;
        }
        display_->ScreenSize(width, height);
    }
    std::vector<Monitor> Monitors() override {
        if (view_.confined) {
            // The work area as the display has it now, where the monitor
            // still is; a monitor gone meanwhile stays what it was.
            Monitor mine = view_.only;
            for (const Monitor &m : display_->Monitors())
                if (EqualRect(m.rect, view_.only.rect)) mine.work = m.work;
            mine.primary = true;
            mine.rect = Moved(mine.rect, -view_.origin.x, -view_.origin.y);
            mine.work = Moved(mine.work, -view_.origin.x, -view_.origin.y);
            return {mine};
        }
        std::vector<Monitor> monitors = display_->Monitors();
        for (Monitor &m : monitors) {
            m.rect = Moved(m.rect, -view_.origin.x, -view_.origin.y);
            m.work = Moved(m.work, -view_.origin.x, -view_.origin.y);
        }
        return monitors;
    }
    void ShareDisplay(const DisplayShare &share) override { display_->ShareDisplay(share); }
    bool SavesMonitorsApart() const override { return display_->SavesMonitorsApart(); }
    uintptr_t DesktopWindow() override { return display_->DesktopWindow(); }

    uintptr_t CreateNativeWindow(const NativeWindowRequest &request) override {
        bool topLevel = !request.parent || request.parent == display_->DesktopWindow();
        if (!topLevel) return display_->CreateNativeWindow(request);
        NativeWindowRequest moved = request;
        moved.rect = Moved(request.rect, view_.origin.x, view_.origin.y);
        uintptr_t window = display_->CreateNativeWindow(moved);
        if (window) topLevels_.insert(window);
        return window;
    }
    void DestroyNativeWindow(uintptr_t window) override {
        topLevels_.erase(window);
        display_->DestroyNativeWindow(window);
    }
    void ShowNativeWindow(uintptr_t window, bool visible) override { display_->ShowNativeWindow(window, visible); }
    void SetNativeTitle(uintptr_t window, const std::string &title) override {
        display_->SetNativeTitle(window, title);
    }
    void RaiseNativeWindow(uintptr_t window) override { display_->RaiseNativeWindow(window); }
    void PlaceNativeWindow(uintptr_t window, const RECT &clientArea) override {
        if (topLevels_.count(window))
            display_->PlaceNativeWindow(window, Moved(clientArea, view_.origin.x, view_.origin.y));
        else
            display_->PlaceNativeWindow(window, clientArea);
    }
    void FocusNativeWindow(uintptr_t window) override { display_->FocusNativeWindow(window); }
    bool Interactive() const override { return display_->Interactive(); }
    void Present(uintptr_t window, const uint32_t *pixels, int width, int height,
                 const std::vector<RECT> &dirty) override {
        display_->Present(window, pixels, width, height, dirty);
    }
    void PresentIndexed(uintptr_t window, const uint32_t *pixels, const uint8_t *indices, const uint32_t *table,
                        int width, int height, const std::vector<RECT> &dirty) override {
        display_->PresentIndexed(window, pixels, indices, table, width, height, dirty);
    }
    bool WaitForEvents(int timeoutMs, InputSink &sink) override {
        MovedSink moved(sink, view_.origin);
        return display_->WaitForEvents(timeoutMs, moved);
    }
    void SetCursorVisible(bool visible) override { display_->SetCursorVisible(visible); }
    void WarpPointer(int x, int y) override { display_->WarpPointer(x + view_.origin.x, y + view_.origin.y); }
    bool PointerPosition(int *x, int *y) override {
        if (!display_->PointerPosition(x, y)) return false;
        *x -= view_.origin.x;
        *y -= view_.origin.y;
        return true;
    }
    uintptr_t FindForeignWindow(const char *className, const char *title) override {
        return display_->FindForeignWindow(className, title);
    }
    bool IsForeignWindow(uintptr_t window) override { return display_->IsForeignWindow(window); }
    bool ForeignWindowRect(uintptr_t window, RECT *screenRect) override {
        if (!display_->ForeignWindowRect(window, screenRect)) return false;
        *screenRect = Moved(*screenRect, -view_.origin.x, -view_.origin.y);
        return true;
    }

private:
    static bool EqualRect(const RECT &a, const RECT &b) {
        return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    }

    std::unique_ptr<Backend> display_;
    DisplayView view_;
    std::set<uintptr_t> topLevels_;
};

}  // namespace

std::unique_ptr<Backend> ViewOfDisplay(std::unique_ptr<Backend> display, const DisplayView &view) {
    return std::make_unique<ViewedDisplay>(std::move(display), view);
}

}  // namespace layer
