// The display backend on a Wayland compositor. The full-screen saver is one
// surface per output: a layer-shell overlay anchored on every edge that
// takes the keyboard where the compositor offers layer shell, else an
// xdg_toplevel made fullscreen on that output. Other top-level windows are
// xdg_toplevels. Frames go out in wl_shm buffers that are reused once the
// compositor lets go of them, with only the changed rectangles as damage,
// and only when the compositor has asked for a frame: an output that shows
// nothing of ours costs nothing.
//
// Wayland tells a client nothing it has not asked for: where the pointer is
// is known only while it is over one of our surfaces, there is no global
// grid of pixels, and other clients' windows cannot be seen. What the layer
// asks about those gets the answers outputs.h explains.
//
// The backend is one class over a few records, spread over files by
// concern: the connection and its event loop (connection.cpp), the outputs
// (output_records.cpp, with the sums in outputs.cpp), surfaces and their
// shm buffers (surfaces.cpp), the seat (seat.cpp), and top-level windows
// with our own title bar (toplevels.cpp). This header is theirs alone.
#ifndef VANTREL_PLATFORM_WAYLAND_BACKEND_H
#define VANTREL_PLATFORM_WAYLAND_BACKEND_H

#include "backends/backend.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <functional>
#include <layer_hooks.h>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "backends/wayland/outputs.h"
#include "viewporter-client-protocol.h"
// The protocol names an argument "namespace", which C++ reserves.
#define namespace layer_namespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
#include "relative-pointer-unstable-v1-client-protocol.h"
#include "xdg-decoration-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"
#include "xdg-shell-client-protocol.h"

namespace layer {
namespace wayland {

// Milliseconds of the monotonic clock: what key repeat and waits are timed by.
long long MonotonicMs();

class WaylandBackend;
struct Surface;

struct Buffer {
    Surface *owner = nullptr;
    wl_buffer *buffer = nullptr;
    uint32_t *data = nullptr;
    size_t bytes = 0;
    int width = 0;
    int height = 0;
    bool busy = false;     // the compositor may still read it
    bool retired = false;  // of an old size: goes when released
    // What of the window changed since this buffer last had it all.
    std::vector<RECT> stale;
};

struct OutputRecord {
    WaylandBackend *backend = nullptr;
    wayland::OutputInfo info;
    wl_output *output = nullptr;
    zxdg_output_v1 *xdgOutput = nullptr;
    bool pendingDone = false;  // wl_output sent its state; xdg-output's may follow
};

// One wl_surface of a window, on one output (or where the compositor puts it).
struct Surface {
    WaylandBackend *backend = nullptr;
    uintptr_t window = 0;
    uint32_t output = 0;    // the output's registry name, 0 for none in particular
    bool cover = false;     // black, on an output the window itself is not on
    bool fullScreen = false;
    wl_surface *surface = nullptr;
    zwlr_layer_surface_v1 *layerSurface = nullptr;
    xdg_surface *xdgSurface = nullptr;
    xdg_toplevel *toplevel = nullptr;
    zxdg_toplevel_decoration_v1 *decoration = nullptr;
    wp_viewport *viewport = nullptr;
    // Our own title bar, where the compositor draws none: a subsurface
    // along the top edge, outside the client area.
    wl_surface *bar = nullptr;
    wl_subsurface *barSubsurface = nullptr;
    std::unique_ptr<Buffer> barBuffer;
    bool configured = false;
    int logicalWidth = 0;  // as the compositor configured it
    int logicalHeight = 0;
    int bufferScale = 1;  // what the compositor was last told
    // Buffer pixels per window pixel: 1 for the saver, which draws at the
    // output's device pixels; a dialog on a scaled output is drawn at the
    // output's scale, each pixel of the window a whole block.
    int pixelScale = 1;
    std::vector<uint32_t> entered;  // the outputs a dialog is on (registry names)
    std::string barTitle;           // what the bar shows
    int destinationWidth = -1;
    int destinationHeight = -1;
    std::vector<std::unique_ptr<Buffer>> buffers;
    Buffer *back = nullptr;  // holds the latest pixels, not yet committed
    std::vector<RECT> damage;
    wl_callback *frame = nullptr;  // a frame is committed and not yet shown
    wl_callback *closeCheck = nullptr;
};

struct NativeWindow {
    uintptr_t parent = 0;           // ours; 0 for a top-level window
    std::vector<uintptr_t> children;  // oldest (and so topmost) first
    // What the window shows, kept for windows that are drawn into their
    // top-level window's buffers with others (every window but the saver's):
    // a control's pixels are needed again when a sibling moves off them.
    std::vector<uint32_t> cache;
    int cacheWidth = 0;
    int cacheHeight = 0;
    std::vector<uint32_t> composed;  // a top-level window's frame, children drawn in
    bool topLevel = false;
    bool fullScreen = false;  // the topmost popup: one surface per output, keyboard and pointer
    uintptr_t owner = 0;
    RECT area = {0, 0, 0, 0};
    std::string title;
    bool shown = false;
    std::vector<std::unique_ptr<Surface>> surfaces;
};

constexpr uintptr_t kDesktop = 0x10010;
// Our title bar: its height, and the close box at its right end.
constexpr int kBarHeight = 20;
constexpr int kCloseBoxWidth = 18;
constexpr uintptr_t kFirstWindow = 0x10020;
const char kAppId[] = "vantrel-saver";

class WaylandBackend final : public Backend {
public:
    static std::unique_ptr<Backend> Create(const char *displayName, const std::string &outputName, std::string *why);
    ~WaylandBackend() override;

    const char *Name() const override { return "wayland"; }
    void ScreenSize(int *width, int *height) override;
    std::vector<Monitor> Monitors() override;
    // A full-screen run gives every output a process of its own, each
    // confined to its output by name.
    bool SavesMonitorsApart() const override { return confinedName_.empty(); }
    uintptr_t DesktopWindow() override { return kDesktop; }
    uintptr_t CreateNativeWindow(const NativeWindowRequest &request) override;
    void DestroyNativeWindow(uintptr_t window) override;
    void ShowNativeWindow(uintptr_t window, bool visible) override;
    void SetNativeTitle(uintptr_t window, const std::string &title) override;
    void RaiseNativeWindow(uintptr_t) override {}
    void PlaceNativeWindow(uintptr_t window, const RECT &clientArea) override;
    bool Interactive() const override { return true; }
    void Present(uintptr_t window, const uint32_t *pixels, int width, int height,
                 const std::vector<RECT> &dirty) override;
    void PresentIndexed(uintptr_t window, const uint32_t *pixels, const uint8_t *indices, const uint32_t *table,
                        int width, int height, const std::vector<RECT> &dirty) override;
    // `indices` and `table`, where given, are the same pixels (see Backend).
    void PresentSurfaces(NativeWindow &w, const uint32_t *pixels, int width, int height,
                         const std::vector<RECT> &dirty, const uint8_t *indices = nullptr,
                         const uint32_t *table = nullptr);
    uintptr_t TopOf(uintptr_t window, int *x, int *y);
    void Compose(uintptr_t top, const std::vector<RECT> &rects);
    void DrawChildren(NativeWindow &parent, int x, int y, const RECT &clip, std::vector<uint32_t> &out, int width);
    void Recompose(uintptr_t window, const RECT &area);
    bool WaitForEvents(int timeoutMs, InputSink &sink) override;
    void SetCursorVisible(bool visible) override;
    void WarpPointer(int x, int y) override;
    bool PointerPosition(int *x, int *y) override;
    uintptr_t FindForeignWindow(const char *, const char *) override { return 0; }
    bool IsForeignWindow(uintptr_t) override { return false; }
    bool ForeignWindowRect(uintptr_t, RECT *) override { return false; }

    // ---- what the listeners call -------------------------------------------
    void Global(uint32_t name, const char *interface, uint32_t version);
    void GlobalRemoved(uint32_t name);
    void OutputChanged(OutputRecord *record);
    void SeatCapabilities(uint32_t capabilities);
    void Configured(Surface *s, uint32_t width, uint32_t height);
    void SurfaceClosed(Surface *s);
    void CloseChecked(Surface *s);
    void FrameDone(Surface *s);
    void Released(Buffer *b);
    void PointerEntered(uint32_t serial, wl_surface *surface, wl_fixed_t x, wl_fixed_t y);
    void PointerLeft(wl_surface *surface);
    void PointerMovedTo(wl_fixed_t x, wl_fixed_t y);
    void PointerTravelled(double dx, double dy);
    void PointerButton(uint32_t serial, uint32_t button, uint32_t state);
    void PointerAxis(uint32_t axis, wl_fixed_t value);
    void Keymap(uint32_t format, int fd, uint32_t size);
    void KeyboardEntered(wl_surface *surface, wl_array *keys);
    void Key(uint32_t key, bool down);
    void KeyboardLeft();
    void RepeatInfo(int32_t rate, int32_t delay) {
        repeatRate_ = std::max(0, rate);
        repeatDelay_ = std::max(0, delay);
        // Repeat turned off while a key is held stops it now.
        if (repeatRate_ == 0) repeatKey_ = 0;
    }
    void Modifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group);
    void Report(std::function<void(InputSink &)> report) { reports_.push_back(std::move(report)); }
    void SurfaceEntered(Surface *s, wl_output *output, bool entered);
    void DecorationMode(Surface *s, uint32_t mode);

private:
    WaylandBackend() = default;
    NativeWindow *Find(uintptr_t window) {
        auto it = windows_.find(window);
        return it == windows_.end() ? nullptr : &it->second;
    }
    OutputRecord *FindOutput(uint32_t global);
    std::vector<wayland::OutputInfo> Infos() const;
    int ConfinedIndex() const;
    bool Roundtrip();
    [[noreturn]] void Lost();
    void Flush();
    bool Deliver(InputSink &sink);

    Surface *MakeSurface(uintptr_t window, NativeWindow &w, OutputRecord *output, bool cover);
    void CoverOutputs(uintptr_t window, NativeWindow &w);
    void DestroySurface(Surface *s);
    void DropSurfaces(NativeWindow &w);
    void RemoveSurface(uintptr_t window, Surface *s);
    Buffer *MakeBuffer(Surface *s, int width, int height);
    void MakeTitleBar(Surface *s, int width, int height);
    void RescaleDialog(Surface *s);
    void DestroyBuffer(Buffer *b);
    Buffer *FreeBuffer(Surface *s, int width, int height);
    void Commit(Surface *s);
    void CommitCover(Surface *s);
    int ScaleOf(const Surface *s);
    bool SurfaceOrigin(const Surface *s, int *x, int *y, int *width, int *height);
    void ReportPointer(const Surface *s);

    wl_display *display_ = nullptr;
    wl_registry *registry_ = nullptr;
    wl_compositor *compositor_ = nullptr;
    uint32_t compositorVersion_ = 0;
    wl_shm *shm_ = nullptr;
    wl_seat *seat_ = nullptr;
    uint32_t seatName_ = 0;
    wl_pointer *pointer_ = nullptr;
    wl_keyboard *keyboard_ = nullptr;
    zxdg_output_manager_v1 *xdgOutputs_ = nullptr;
    zwlr_layer_shell_v1 *layerShell_ = nullptr;
    xdg_wm_base *wmBase_ = nullptr;
    wp_viewporter *viewporter_ = nullptr;
    zxdg_decoration_manager_v1 *decorations_ = nullptr;
    zwp_relative_pointer_manager_v1 *relativeManager_ = nullptr;
    zwp_relative_pointer_v1 *relativePointer_ = nullptr;
    double travelX_ = 0, travelY_ = 0;  // less than a pixel, not yet reported
    wl_subcompositor *subcompositor_ = nullptr;
    std::vector<std::unique_ptr<OutputRecord>> outputs_;
    std::string confinedName_;

    xkb_context *xkb_ = nullptr;
    xkb_keymap *keymap_ = nullptr;
    xkb_state *keyState_ = nullptr;
    // A keyboard that joined the seat while our windows showed: the keys it
    // holds as it first enters are presses made for us (a keyboard there
    // from the start may hold the key that started us, which is not).
    bool keyboardLate_ = false;
    bool keyboardEntered_ = false;
    // The compositor showed us the keyboard (its keymap) while it lasted:
    // it then also told us whether our surfaces had its focus.
    bool keyboardOffered_ = false;
    bool keySeen_ = false;
    Surface *keyboardSurface_ = nullptr;
    // Held keys repeat on the client's side, at the compositor's pace
    // (wl_keyboard.repeat_info; a rate of 0 turns repeat off).
    int repeatRate_ = 25;
    int repeatDelay_ = 600;
    uint32_t repeatKey_ = 0;  // evdev code + 1; 0 when nothing repeats
    UINT repeatVk_ = 0;
    bool repeatAlt_ = false;
    long long nextRepeat_ = 0;
    bool fullScreenShown_ = false;
    bool windowShown_ = false;

    std::map<uintptr_t, NativeWindow> windows_;
    uintptr_t next_ = kFirstWindow;
    std::vector<std::function<void(InputSink &)>> reports_;

    bool cursorHidden_ = false;
    Surface *pointerSurface_ = nullptr;
    bool pointerOnBar_ = false;
    uint32_t pointerSerial_ = 0;
    double pointerLocalX_ = 0;
    double pointerLocalY_ = 0;
    // Screen position = what the surfaces say + offset (see PointerEntered).
    bool pointerKnown_ = false;
    bool anchored_ = false;  // pointerX_/Y_ hold a position the layer was given
    int offsetX_ = 0;
    int offsetY_ = 0;
    int pointerX_ = 0;
    int pointerY_ = 0;
};

inline WaylandBackend *Of(void *data) { return static_cast<WaylandBackend *>(data); }

// The listeners that one file sets up for another's objects.
extern const wl_output_listener kOutputListener;
extern const zxdg_output_v1_listener kXdgOutputListener;
extern const wl_seat_listener kSeatListener;
extern const zwlr_layer_surface_v1_listener kLayerSurfaceListener;
extern const xdg_surface_listener kXdgSurfaceListener;
extern const xdg_toplevel_listener kToplevelListener;
extern const zxdg_toplevel_decoration_v1_listener kDecorationListener;

}  // namespace wayland
}  // namespace layer

#endif
