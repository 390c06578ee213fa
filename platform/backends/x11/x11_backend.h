// The X11 backend's declarations, shared by its files: windows, monitors
// and other clients' windows (backend.cpp), events and input (events.cpp),
// images and presenting (images.cpp).
#ifndef VANTREL_PLATFORM_X11_BACKEND_H
#define VANTREL_PLATFORM_X11_BACKEND_H

#include "backends/backend.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <time.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "backends/x11/translate.h"

namespace layer {
namespace x11 {

// Protocol errors so far (the backend's handler counts them instead of
// ending the process): callers that must know compare the count around a
// round trip.
extern unsigned long protocolErrors;

inline long long MonotonicMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Where presented pixels are packed for the server (images.cpp).
struct Staging {
    XImage *image = nullptr;  // the format each packed rectangle's image copies
    XShmSegmentInfo shm = {};
    bool shared = false;  // in a segment the server reads, else sent in requests
};

struct NativeWindow {
    bool topLevel = false;
    bool takesInput = false;  // the full-screen window: keyboard and pointer are ours once it shows
    bool lowered = false;     // a window on the root itself stays below everything
    bool managed = false;     // a top-level window a window manager may frame, place and focus
    bool fixedSize = false;   // tells a window manager it cannot be resized
    bool mapped = false;
    bool publishesText = false;  // a label of a dialog: its text is readable from outside
    uintptr_t foreignParent = 0;
    RECT area = {0, 0, 0, 0};  // where the server has it, in the parent's coordinates
};

enum AtomIndex {
    kWmProtocols,
    kWmDeleteWindow,
    kNetWmName,
    kUtf8String,
    kNetWmPid,
    kNetActiveWindow,
    kNetClientList,
    kNetWmWindowType,
    kNetWmWindowTypeDialog,
    kNetWmWindowTypeNormal,
    kWin32Class,
    kVantrelRun,
    kVantrelText,
    kNetWorkarea,
    kNetCurrentDesktop,
    kAtomCount
};

// How long the full-screen window keeps asking for the keyboard and pointer
// when another client holds them (a menu that was open, say).
constexpr int kGrabRetryMs = 5000;
constexpr int kGrabRetryIntervalMs = 100;

class X11Backend final : public Backend {
public:
    static std::unique_ptr<Backend> Create(const char *displayName, std::string *why);
    ~X11Backend() override;

    const char *Name() const override { return "x11"; }

    void ScreenSize(int *width, int *height) override {
        *width = DisplayWidth(display_, screen_);
        *height = DisplayHeight(display_, screen_);
    }
    std::vector<Monitor> Monitors() override;
    void ShareDisplay(const DisplayShare &share) override { run_ = share.run; }
    bool SavesMonitorsApart() const override { return true; }
    uintptr_t DesktopWindow() override { return root_; }

    uintptr_t CreateNativeWindow(const NativeWindowRequest &request) override;
    void DestroyNativeWindow(uintptr_t window) override;
    void ShowNativeWindow(uintptr_t window, bool visible) override;
    void SetNativeTitle(uintptr_t window, const std::string &title) override;
    void RaiseNativeWindow(uintptr_t window) override;
    void PlaceNativeWindow(uintptr_t window, const RECT &clientArea) override;
    void FocusNativeWindow(uintptr_t window) override;
    bool Interactive() const override { return true; }
    void Present(uintptr_t window, const uint32_t *pixels, int width, int height,
                 const std::vector<RECT> &dirty) override;
    void PresentIndexed(uintptr_t window, const uint32_t *pixels, const uint8_t *indices, const uint32_t *table,
                        int width, int height, const std::vector<RECT> &dirty) override;
    bool WaitForEvents(int timeoutMs, InputSink &sink) override;
    void SetCursorVisible(bool visible) override;
    void WarpPointer(int x, int y) override;
    bool PointerPosition(int *x, int *y) override;
    uintptr_t FindForeignWindow(const char *className, const char *title) override;
    bool IsForeignWindow(uintptr_t window) override;
    bool ForeignWindowRect(uintptr_t window, RECT *screenRect) override;

private:
    X11Backend() = default;

    NativeWindow *Find(uintptr_t window) {
        auto it = windows_.find(window);
        return it == windows_.end() ? nullptr : &it->second;
    }
    void SetTitleProperties(Window window, const std::string &title);
    void SetTextProperty(Window window, const std::string &text);
    void SetManagerHints(Window window, const NativeWindowRequest &request, const NativeWindow &record);
    void SetSizeHints(Window window, const NativeWindow &record);
    void ReportPlace(Window window, InputSink &sink);
    // What a presentation reads: the surface, or its indices and their
    // table where the layer gave them and the server takes our own pixel
    // format.
    struct PresentSource {
        const uint32_t *pixels = nullptr;
        const uint8_t *indices = nullptr;
        const uint32_t *table = nullptr;
    };
    void PresentPacked(uintptr_t window, const PresentSource &source, int width, int height,
                       const std::vector<RECT> &dirty);
    bool MakeStaging();
    void FreeStaging();
    bool Handle(XEvent &event, InputSink &sink);
    void MovePointer(InputSink &sink, int x, int y);
    void TakeInput(Window window);
    void RetryInput();
    bool ReadText(Window window, Atom property, std::string *text);
    bool ReadWorkArea(RECT *area);

    Display *display_ = nullptr;
    int screen_ = 0;
    Window root_ = 0;
    Visual *visual_ = nullptr;
    int depth_ = 0;
    Colormap colormap_ = 0;
    bool ownColormap_ = false;
    x11::PixelLayout layout_;
    bool shm_ = false;
    Staging staging_;
    GC gc_ = nullptr;
    Cursor blank_ = 0;
    bool cursorHidden_ = false;
    unsigned int numLockMask_ = 0;
    Atom atoms_[kAtomCount] = {};
    XErrorHandler previousHandler_ = nullptr;
    std::map<uintptr_t, NativeWindow> windows_;
    std::set<uintptr_t> watchedParents_;  // foreign windows whose end we hear of
    bool pointerKnown_ = false;
    int pointerX_ = 0;
    int pointerY_ = 0;
    // A dialog the layer activated before the server had it on the screen:
    // it takes the keyboard once it is.
    Window focusWanted_ = 0;
    // A full-screen window still waiting for the keyboard and pointer.
    Window inputWanted_ = 0;
    long long inputDeadline_ = 0;
    long long nextInputTry_ = 0;
    // RandR's event numbers, or -1 without it; a change reported once for
    // each batch of its events.
    int randrEvents_ = -1;
    bool displayChanged_ = false;
    // The run of processes, one per monitor, this one is part of; "" alone.
    std::string run_;
};

}  // namespace x11
}  // namespace layer

#endif
