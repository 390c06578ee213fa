// The display backend: the one place where the layer meets a real (or
// imagined) screen. The window manager in user_*.cpp keeps all Win32 state;
// a backend only owns native windows, pixels on screen, the pointer and the
// event source. HWND values are chosen here so that, on X11, the handle a
// program sees is the X window id (a preview host can pass it on a command
// line), while headless hands out small numbers.
#ifndef VANTREL_PLATFORM_BACKEND_H
#define VANTREL_PLATFORM_BACKEND_H

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace layer {

enum class Button;

// What the backend reports back while it waits. Coordinates are screen
// coordinates; the window manager works out the target window.
class InputSink {
public:
    virtual ~InputSink() = default;
    virtual void PointerMoved(int x, int y) = 0;
    virtual void ButtonChanged(Button button, bool down) = 0;
    // `delta` in WHEEL_DELTA units; horizontal wheels are positive to the right.
    virtual void WheelTurned(int delta, bool horizontal) = 0;
    virtual void KeyChanged(UINT virtualKey, bool down, bool alt) = 0;
    // Part of a native window was uncovered and must be drawn again.
    virtual void Exposed(uintptr_t nativeWindow, const RECT &area) = 0;
    // The window manager asked a top-level window to close.
    virtual void CloseRequested(uintptr_t nativeWindow) = 0;
    // A native window went away underneath us (a preview's host window was
    // destroyed by its process): the windows inside it go with it.
    virtual void NativeWindowGone(uintptr_t nativeWindow) = 0;
    // A top-level window's client area is now at (x, y) on the screen: a
    // window manager placed or moved it. Pointer reports are hit-tested
    // against where the window really is.
    virtual void NativeWindowMoved(uintptr_t /*nativeWindow*/, int /*x*/, int /*y*/) {}
    // The display gave a top-level window the keyboard (a window manager
    // acting on a click or on its own).
    virtual void NativeWindowFocused(uintptr_t /*nativeWindow*/) {}
    // Monitors came, went or changed: Monitors() says what they are now.
    virtual void DisplayChanged() {}
};

// One monitor of the display, in screen coordinates (the virtual screen's:
// the primary monitor's top-left corner is 0,0 on Windows and may not be on
// X11, where the root's corner is).
struct Monitor {
    RECT rect = {0, 0, 0, 0};  // the whole monitor
    RECT work = {0, 0, 0, 0};  // what panels and docks leave of it
    bool primary = false;
    std::string name;          // the display's own name for it (RandR output, Wayland output)
};

// A full-screen run that gives every monitor a process of its own
// (session/monitor_run.cpp) tells each process's display which monitor is
// its own. The layer turns coordinates itself (backends/display_view.cpp):
// the backend goes on working in the display's coordinates; this is for
// what coordinates cannot say.
struct DisplayShare {
    std::string run;   // the same in every process of the run
    Monitor monitor;   // this process's, in the display's coordinates
};

struct NativeWindowRequest {
    uintptr_t parent = 0;     // native parent (ours or foreign); 0 for a top-level window
    uintptr_t owner = 0;      // a top-level window's owner (a dialog's), or 0
    RECT rect = {0, 0, 0, 0}; // in the parent's client coordinates, or the screen's
    DWORD style = 0;
    DWORD exStyle = 0;
    std::string className;
    std::string title;
};

class Backend {
public:
    virtual ~Backend() = default;
    virtual const char *Name() const = 0;

    virtual void ScreenSize(int *width, int *height) = 0;
    // The monitors, the primary one first; never empty (a display that
    // reports none is one monitor the size of the screen).
    virtual std::vector<Monitor> Monitors() {
        Monitor whole;
        int w = 0, h = 0;
        ScreenSize(&w, &h);
        whole.rect = whole.work = {0, 0, w, h};
        whole.primary = true;
        whole.name = "SCREEN0";
        return {whole};
    }
    // This process shares the display with the other processes of a run,
    // one per monitor. Windows of the run do not count as another saver
    // already running (FindForeignWindow passes over them), a full-screen
    // window takes the keyboard when none of the run holds it and leaves
    // the pointer to the window under it, and a display that places
    // full-screen windows itself (Wayland) puts them on `share.monitor`.
    virtual void ShareDisplay(const DisplayShare & /*share*/) {}
    // True when a full-screen run is to give each monitor a process of its
    // own; a display that cannot share itself out (headless) keeps one.
    virtual bool SavesMonitorsApart() const { return false; }
    // The HWND value of the desktop window (the root window on X11).
    virtual uintptr_t DesktopWindow() = 0;

    // Makes the native side of a window and returns the value its HWND
    // takes (nonzero), or 0 when the native window cannot be made.
    virtual uintptr_t CreateNativeWindow(const NativeWindowRequest &request) = 0;
    virtual void DestroyNativeWindow(uintptr_t window) = 0;
    virtual void ShowNativeWindow(uintptr_t window, bool visible) = 0;
    virtual void SetNativeTitle(uintptr_t window, const std::string &title) = 0;
    virtual void RaiseNativeWindow(uintptr_t window) = 0;
    // Where a native window's client area goes, in its parent's client
    // coordinates (the screen's for a top-level window). A native window is
    // the client area only: a window's non-client part is the layer's.
    virtual void PlaceNativeWindow(uintptr_t /*window*/, const RECT & /*clientArea*/) {}
    // The layer activated a top-level window: it takes the keyboard.
    virtual void FocusNativeWindow(uintptr_t /*window*/) {}
    // True when a person can see and answer windows (a message box waits
    // for them); false on a desktop that only exists in memory.
    virtual bool Interactive() const { return false; }

    // Shows the `dirty` rectangles (client coordinates) of a window's 32-bit
    // 0x00RRGGBB client surface, `width` pixels per row; the rest of the
    // window shows what it showed. No rectangles: nothing is sent.
    virtual void Present(uintptr_t window, const uint32_t *pixels, int width, int height,
                         const std::vector<RECT> &dirty) = 0;
    // The same, where the layer knows that every pixel of the surface is
    // `table[indices[i]]` (a window showing 8-bit copies, as the saver's
    // does): a backend may read the indices instead, a quarter of the bytes
    // and ones the frame has just looked at, while the pixels themselves have
    // left the cache. `indices` has `width` to a row, like `pixels`.
    virtual void PresentIndexed(uintptr_t window, const uint32_t *pixels, const uint8_t * /*indices*/,
                                const uint32_t * /*table*/, int width, int height, const std::vector<RECT> &dirty) {
        Present(window, pixels, width, height, dirty);
    }

    // Waits at most `timeoutMs` (negative: no limit, 0: just collect what is
    // there) for native events and reports them to `sink`. Returns true when
    // anything was reported.
    virtual bool WaitForEvents(int timeoutMs, InputSink &sink) = 0;

    virtual void SetCursorVisible(bool visible) = 0;
    virtual void WarpPointer(int x, int y) = 0;
    // Where the pointer is now, in screen coordinates; false when the
    // backend has no pointer of its own (the layer's position stands).
    virtual bool PointerPosition(int *x, int *y) = 0;

    // Windows of other processes: a running saver found by class and title,
    // and a window named on a command line (a preview's host).
    virtual uintptr_t FindForeignWindow(const char *className, const char *title) = 0;
    virtual bool IsForeignWindow(uintptr_t window) = 0;
    virtual bool ForeignWindowRect(uintptr_t window, RECT *screenRect) = 0;
};

std::unique_ptr<Backend> CreateHeadlessBackend(int width, int height);
// A headless desktop with these monitors, the primary first (the screen is
// their bounds, from 0,0); the one-monitor desktop when the list is empty.
std::unique_ptr<Backend> CreateHeadlessBackend(int width, int height, const std::vector<Monitor> &monitors);
// Monitors as "WxH+X+Y" items separated by commas, the primary first, each
// within +-32767 and at most 16384 pixels a side; false (and nothing in
// `monitors`) for anything else, an empty list and more than 16 monitors
// included. Names are "HEADLESS-1", "HEADLESS-2", ...
bool ParseMonitorList(const char *text, std::vector<Monitor> *monitors);
// One "WxH+X+Y" item as ParseMonitorList reads it.
bool ParseMonitorGeometry(const char *text, RECT *rect);

// What a process of the layer sees of a display: its coordinates moved so
// that `origin` (a point of the display's) is 0,0, as Windows has the
// primary monitor's corner there; with `only`, that monitor of the
// display alone is the whole screen, as each process of a run that gives
// every monitor a process of its own sees it.
struct DisplayView {
    POINT origin = {0, 0};
    bool confined = false;
    Monitor only;  // in the display's coordinates
};
std::unique_ptr<Backend> ViewOfDisplay(std::unique_ptr<Backend> display, const DisplayView &view);
// The X server named by `displayName` (null: $DISPLAY), or null when it
// cannot be reached or offers no visual the layer can draw with; `why` then
// says what went wrong.
std::unique_ptr<Backend> CreateX11Backend(const char *displayName, std::string *why);
// The Wayland compositor of the socket `displayName` (null: $WAYLAND_DISPLAY),
// or null when it does not answer or offers neither layer shell nor
// xdg-shell; `why` then says what went wrong. With an `outputName`, the
// backend keeps to that output alone: it is the whole screen, and the
// full-screen window covers it and nothing else.
std::unique_ptr<Backend> CreateWaylandBackend(const char *displayName, const std::string &outputName,
                                              std::string *why);

}  // namespace layer

#endif
