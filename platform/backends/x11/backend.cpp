// The display backend on an X server. A window of the program is an X
// window whose id is its HWND; the full-screen saver is an override-redirect
// window over the root that takes the keyboard and pointer, a preview is a
// child of the foreign window named on the command line. Pixels reach the
// server through MIT-SHM where the server can see our memory, else in plain
// requests, and only the part of a window that changed.
#include "backends/backend.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>
#include <errno.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <layer_hooks.h>
#include <map>
#include <set>
#include <vector>

#include "session/termination.h"
#include "backends/clip.h"
#include "backends/keys.h"
#include "backends/x11/translate.h"

namespace layer {
namespace {

// Xlib's own handler ends the process on any protocol error. Ours only
// counts them: a request on a window that another process has destroyed
// meanwhile is an everyday event for a preview, not a reason to die.
// Callers that must know compare the count around a round trip.
unsigned long protocolErrors = 0;
int CountProtocolError(Display *, XErrorEvent *) {
    ++protocolErrors;
    return 0;
}

long long MonotonicMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

bool SameNoCase(const std::string &a, const char *b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::toupper((unsigned char)a[i]) != std::toupper((unsigned char)b[i])) return false;
    return true;
}

// Window titles are ANSI text, which for the characters a title holds is
// Latin-1; the desktop's name property wants UTF-8.
std::string Latin1ToUtf8(const std::string &text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x80) {
            out += (char)c;
        } else {
            out += (char)(0xC0 | (c >> 6));
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    return out;
}

struct Image {
    XImage *image = nullptr;
    XShmSegmentInfo shm = {};
    bool shared = false;
    bool lent = false;  // the layer keeps the window's surface in it: nothing to copy
    int width = 0;
    int height = 0;
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
    Image image;
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
const char *const kAtomNames[kAtomCount] = {
    "WM_PROTOCOLS", "WM_DELETE_WINDOW", "_NET_WM_NAME", "UTF8_STRING", "_NET_WM_PID", "_NET_ACTIVE_WINDOW",
    "_NET_CLIENT_LIST", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DIALOG", "_NET_WM_WINDOW_TYPE_NORMAL",
    // The window class a program of this layer registered, so that another
    // process's FindWindowA finds the window by it.
    "_VANTREL_WIN32_CLASS",
    // The run a window belongs to when every monitor has a process of its
    // own: a process of the run does not take its siblings' windows for
    // another saver already running.
    "_VANTREL_RUN",
    // What a static text or a button says, as another process may ask a
    // window on Windows: how a test or a screen reader learns what a dialog
    // tells the user. Edit fields keep theirs to themselves.
    "_VANTREL_TEXT",
    "_NET_WORKAREA", "_NET_CURRENT_DESKTOP",
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
    uint32_t *SurfaceMemory(uintptr_t window, int width, int height) override;
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
    bool MakeImage(Image *image, int width, int height);
    void FreeImage(Image *image);
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

std::unique_ptr<Backend> X11Backend::Create(const char *displayName, std::string *why) {
    const char *name = displayName ? displayName : std::getenv("DISPLAY");
    if (!name || !*name) {
        *why = "cannot open display \"\" ($DISPLAY is not set)";
        return nullptr;
    }
    Display *display = XOpenDisplay(name);
    if (!display) {
        *why = std::string("cannot open display \"") + name + "\"";
        return nullptr;
    }
    std::unique_ptr<X11Backend> b(new X11Backend());
    b->display_ = display;
    b->previousHandler_ = XSetErrorHandler(CountProtocolError);
    b->screen_ = DefaultScreen(display);
    b->root_ = RootWindow(display, b->screen_);

    // Pixels are drawn as true colour; a server whose default visual is
    // something else usually offers a 24-bit TrueColor visual beside it.
    XVisualInfo chosen;
    XVisualInfo wanted = {};
    wanted.visualid = XVisualIDFromVisual(DefaultVisual(display, b->screen_));
    int found = 0;
    XVisualInfo *defaults = XGetVisualInfo(display, VisualIDMask, &wanted, &found);
    bool usable = defaults && found > 0 && defaults->c_class == TrueColor && defaults->depth >= 15;
    if (usable) chosen = *defaults;
    if (defaults) XFree(defaults);
    if (!usable && XMatchVisualInfo(display, b->screen_, 24, TrueColor, &chosen)) usable = true;
    if (!usable) {
        *why = "the X display offers no TrueColor visual of 15 bits or more";
        return nullptr;
    }
    b->visual_ = chosen.visual;
    b->depth_ = chosen.depth;
    if (chosen.visual == DefaultVisual(display, b->screen_)) {
        b->colormap_ = DefaultColormap(display, b->screen_);
    } else {
        b->colormap_ = XCreateColormap(display, b->root_, chosen.visual, AllocNone);
        b->ownColormap_ = true;
    }
    b->layout_.redMask = chosen.red_mask;
    b->layout_.greenMask = chosen.green_mask;
    b->layout_.blueMask = chosen.blue_mask;
    XImage *probe = XCreateImage(display, b->visual_, (unsigned)b->depth_, ZPixmap, 0, nullptr, 1, 1, 32, 0);
    if (probe) {
        b->layout_.bitsPerPixel = probe->bits_per_pixel;
        b->layout_.msbFirst = probe->byte_order == MSBFirst;
        XDestroyImage(probe);
    }
    if (!probe || !x11::LayoutSupported(b->layout_)) {
        *why = "the X display's pixel format is not one the layer can write";
        return nullptr;
    }
    b->shm_ = XShmQueryExtension(display);
    int randrErrors = 0;
    if (XRRQueryExtension(display, &b->randrEvents_, &randrErrors)) {
        XRRSelectInput(display, b->root_, RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    } else {
        b->randrEvents_ = -1;
    }

    XInternAtoms(display, const_cast<char **>(kAtomNames), kAtomCount, False, b->atoms_);
    // Held keys repeat as presses alone, as they do on Windows, instead of
    // release-press pairs.
    XkbSetDetectableAutoRepeat(display, True, nullptr);
    KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
    if (XModifierKeymap *modifiers = XGetModifierMapping(display)) {
        for (int m = 0; m < 8; ++m)
            for (int k = 0; k < modifiers->max_keypermod; ++k)
                if (numLock && modifiers->modifiermap[m * modifiers->max_keypermod + k] == numLock)
                    b->numLockMask_ = 1u << m;
        XFreeModifiermap(modifiers);
    }
    static const char noBits[1] = {0};
    Pixmap empty = XCreateBitmapFromData(display, b->root_, noBits, 1, 1);
    XColor black = {};
    b->blank_ = XCreatePixmapCursor(display, empty, empty, &black, &black, 0, 0);
    XFreePixmap(display, empty);
    return b;
}

X11Backend::~X11Backend() {
    if (!display_) return;
    for (auto &entry : windows_) FreeImage(&entry.second.image);
    if (gc_) XFreeGC(display_, gc_);
    if (blank_) XFreeCursor(display_, blank_);
    if (ownColormap_) XFreeColormap(display_, colormap_);
    XCloseDisplay(display_);
    XSetErrorHandler(previousHandler_);
}

uintptr_t X11Backend::CreateNativeWindow(const NativeWindowRequest &request) {
    Window parent = root_;
    uintptr_t foreign = 0;
    if (request.parent && request.parent != root_) {
        parent = (Window)request.parent;
        if (!Find(request.parent)) foreign = request.parent;
    }
    bool topLevel = parent == root_;
    unsigned long errorsBefore = protocolErrors;
    // Listening first: a parent that goes after this is heard of, one that
    // went before makes the creation below fail.
    if (foreign) XSelectInput(display_, parent, StructureNotifyMask);

    XSetWindowAttributes attributes = {};
    unsigned long mask = CWBackPixel | CWBorderPixel | CWColormap | CWEventMask;
    attributes.background_pixel = 0;  // black in any TrueColor visual
    attributes.border_pixel = 0;
    attributes.colormap = colormap_;
    attributes.event_mask = ExposureMask | KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                            PointerMotionMask | StructureNotifyMask;
    NativeWindow record;
    record.topLevel = topLevel;
    record.foreignParent = foreign;
    // A topmost popup covers the desktop without a window manager's say; a
    // child of the desktop is a window on the root itself, under the rest.
    record.takesInput = topLevel && (request.style & WS_POPUP) && (request.exStyle & WS_EX_TOPMOST);
    record.lowered = topLevel && (request.style & WS_CHILD);
    if (record.takesInput || record.lowered) {
        attributes.override_redirect = True;
        mask |= CWOverrideRedirect;
    }
    record.managed = topLevel && !record.takesInput && !record.lowered;
    record.fixedSize = record.managed && !(request.style & WS_THICKFRAME);
    record.publishesText = !topLevel && !foreign &&
                           (SameNoCase(request.className, "STATIC") || SameNoCase(request.className, "BUTTON"));
    // A window manager's focus changes are followed; a click on a window it
    // framed may focus that window rather than the layer's choice.
    if (record.managed) attributes.event_mask |= FocusChangeMask;
    if (cursorHidden_) {
        attributes.cursor = blank_;
        mask |= CWCursor;
    }
    const RECT &r = request.rect;
    unsigned width = (unsigned)std::max<LONG>(1, r.right - r.left);
    unsigned height = (unsigned)std::max<LONG>(1, r.bottom - r.top);
    Window window = XCreateWindow(display_, parent, r.left, r.top, width, height, 0, depth_, InputOutput, visual_,
                                  mask, &attributes);
    if (!window) return 0;
    record.area = {r.left, r.top, r.left + (LONG)width, r.top + (LONG)height};
    // The layer keeps siblings newest at the bottom (creation order is tab
    // order and z-order in a dialog); the server puts a new window on top.
    // A group box made after the controls inside it must stay under them.
    if (!topLevel && !foreign) XLowerWindow(display_, window);
    if (foreign) {
        XSync(display_, False);
        if (protocolErrors != errorsBefore) {
            XDestroyWindow(display_, window);
            XSync(display_, False);
            return 0;
        }
        watchedParents_.insert(foreign);
    }
    if (!gc_) {
        XGCValues values = {};
        values.graphics_exposures = False;
        gc_ = XCreateGC(display_, window, GCGraphicsExposures, &values);
    }
    if (topLevel) {
        SetTitleProperties(window, request.title);
        XClassHint hint;
        hint.res_name = const_cast<char *>("vantrel-saver");
        hint.res_class = const_cast<char *>("VantrelSaver");
        XSetClassHint(display_, window, &hint);
        XChangeProperty(display_, window, atoms_[kWin32Class], XA_STRING, 8, PropModeReplace,
                        (const unsigned char *)request.className.data(), (int)request.className.size());
        if (!run_.empty())
            XChangeProperty(display_, window, atoms_[kVantrelRun], XA_STRING, 8, PropModeReplace,
                            (const unsigned char *)run_.data(), (int)run_.size());
        long pid = (long)getpid();
        XChangeProperty(display_, window, atoms_[kNetWmPid], XA_CARDINAL, 32, PropModeReplace,
                        (const unsigned char *)&pid, 1);
        if (record.managed) {
            XSetWMProtocols(display_, window, &atoms_[kWmDeleteWindow], 1);
            SetManagerHints(window, request, record);
        }
    }
    windows_[window] = record;
    if (record.publishesText) SetTextProperty(window, request.title);
    return window;
}

void X11Backend::SetTitleProperties(Window window, const std::string &title) {
    XChangeProperty(display_, window, XA_WM_NAME, XA_STRING, 8, PropModeReplace, (const unsigned char *)title.data(),
                    (int)title.size());
    std::string utf8 = Latin1ToUtf8(title);
    XChangeProperty(display_, window, atoms_[kNetWmName], atoms_[kUtf8String], 8, PropModeReplace,
                    (const unsigned char *)utf8.data(), (int)utf8.size());
}

void X11Backend::SetManagerHints(Window window, const NativeWindowRequest &request, const NativeWindow &record) {
    // A dialog over its owner: the window manager keeps it above the owner
    // and may place it there.
    Window owner = 0;
    if (request.owner && Find(request.owner)) owner = (Window)request.owner;
    if (owner) XSetTransientForHint(display_, window, owner);
    bool dialog = owner || (request.exStyle & WS_EX_DLGMODALFRAME) || request.className == "#32770";
    Atom type = atoms_[dialog ? kNetWmWindowTypeDialog : kNetWmWindowTypeNormal];
    XChangeProperty(display_, window, atoms_[kNetWmWindowType], XA_ATOM, 32, PropModeReplace,
                    (const unsigned char *)&type, 1);
    // The keyboard is given by the window manager or taken by us; there is
    // no WM_TAKE_FOCUS to answer.
    if (XWMHints *hints = XAllocWMHints()) {
        hints->flags = InputHint | StateHint;
        hints->input = True;
        hints->initial_state = NormalState;
        XSetWMHints(display_, window, hints);
        XFree(hints);
    }
    SetSizeHints(window, record);
}

void X11Backend::SetSizeHints(Window window, const NativeWindow &record) {
    XSizeHints *hints = XAllocSizeHints();
    if (!hints) return;
    const RECT &a = record.area;
    hints->flags = PPosition | PSize;
    hints->x = a.left;
    hints->y = a.top;
    hints->width = a.right - a.left;
    hints->height = a.bottom - a.top;
    if (record.fixedSize) {
        hints->flags |= PMinSize | PMaxSize;
        hints->min_width = hints->max_width = hints->width;
        hints->min_height = hints->max_height = hints->height;
    }
    XSetWMNormalHints(display_, window, hints);
    XFree(hints);
}

void X11Backend::PlaceNativeWindow(uintptr_t window, const RECT &clientArea) {
    NativeWindow *w = Find(window);
    if (!w) return;
    RECT area = clientArea;
    area.right = std::max(area.right, area.left + 1);
    area.bottom = std::max(area.bottom, area.top + 1);
    if (std::memcmp(&area, &w->area, sizeof area) == 0) return;
    bool resized = area.right - area.left != w->area.right - w->area.left ||
                   area.bottom - area.top != w->area.bottom - w->area.top;
    w->area = area;
    // Limits first: a window manager refuses a size outside the old ones.
    if (w->managed && resized) SetSizeHints((Window)window, *w);
    XMoveResizeWindow(display_, (Window)window, area.left, area.top, (unsigned)(area.right - area.left),
                      (unsigned)(area.bottom - area.top));
    XFlush(display_);
}

void X11Backend::FocusNativeWindow(uintptr_t window) {
    NativeWindow *w = Find(window);
    // The full-screen window takes the keyboard by a grab, and a window
    // inside another program's never takes it from that program.
    if (!w || !w->managed) return;
    focusWanted_ = (Window)window;
    // The server refuses the focus for a window not yet on the screen; it
    // is given when the window is mapped.
    if (!w->mapped) return;
    XSetInputFocus(display_, (Window)window, RevertToParent, CurrentTime);
    XFlush(display_);
    focusWanted_ = 0;
}

void X11Backend::ReportPlace(Window window, InputSink &sink) {
    // The client window's parent is a window manager's frame, if there is
    // one: only the root knows where it is on the screen.
    int x = 0, y = 0;
    Window child;
    if (!XTranslateCoordinates(display_, window, root_, 0, 0, &x, &y, &child)) return;
    if (NativeWindow *w = Find(window)) {
        // Where it is now is where the layer will ask for it to be: not a
        // move to make.
        w->area = {x, y, x + (w->area.right - w->area.left), y + (w->area.bottom - w->area.top)};
    }
    sink.NativeWindowMoved(window, x, y);
}

void X11Backend::DestroyNativeWindow(uintptr_t window) {
    NativeWindow *w = Find(window);
    if (!w) return;
    FreeImage(&w->image);
    windows_.erase(window);
    if (inputWanted_ == window) inputWanted_ = 0;
    if (focusWanted_ == window) focusWanted_ = 0;
    // A window already gone with its foreign parent answers with an error,
    // which is counted and forgotten.
    XDestroyWindow(display_, (Window)window);
    XFlush(display_);
}

void X11Backend::ShowNativeWindow(uintptr_t window, bool visible) {
    NativeWindow *w = Find(window);
    if (!w) return;
    if (!visible) {
        XUnmapWindow(display_, (Window)window);
    } else if (w->takesInput) {
        XMapRaised(display_, (Window)window);
    } else {
        XMapWindow(display_, (Window)window);
        if (w->lowered) XLowerWindow(display_, (Window)window);
    }
    XFlush(display_);
}

void X11Backend::SetTextProperty(Window window, const std::string &text) {
    XChangeProperty(display_, window, atoms_[kVantrelText], XA_STRING, 8, PropModeReplace,
                    (const unsigned char *)text.data(), (int)text.size());
}

void X11Backend::SetNativeTitle(uintptr_t window, const std::string &title) {
    NativeWindow *w = Find(window);
    if (w && w->topLevel) SetTitleProperties((Window)window, title);
    if (w && w->publishesText) SetTextProperty((Window)window, title);
}

void X11Backend::RaiseNativeWindow(uintptr_t window) {
    if (NativeWindow *w = Find(window)) {
        if (w->lowered) return;
        XRaiseWindow(display_, (Window)window);
        XFlush(display_);
        return;
    }
    // Another process's window: raised directly (an override-redirect
    // saver has no window manager to ask), and the window manager, if
    // there is one, asked to activate it as a pager would.
    XRaiseWindow(display_, (Window)window);
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = (Window)window;
    event.xclient.message_type = atoms_[kNetActiveWindow];
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // the request comes from a pager-like tool
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, root_, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display_);
}

bool X11Backend::MakeImage(Image *image, int width, int height) {
    image->width = width;
    image->height = height;
    if (shm_) {
        XImage *x = XShmCreateImage(display_, visual_, (unsigned)depth_, ZPixmap, nullptr, &image->shm, (unsigned)width,
                                    (unsigned)height);
        if (x) {
            size_t size = (size_t)x->bytes_per_line * (size_t)height;
            image->shm.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
            if (image->shm.shmid >= 0) {
                void *address = shmat(image->shm.shmid, nullptr, 0);
                if (address != (void *)-1) {
                    image->shm.shmaddr = x->data = (char *)address;
                    image->shm.readOnly = False;
                    unsigned long errorsBefore = protocolErrors;
                    Bool attached = XShmAttach(display_, &image->shm);
                    XSync(display_, False);
                    // The segment goes when both sides have let go of it,
                    // however this process ends.
                    shmctl(image->shm.shmid, IPC_RMID, nullptr);
                    if (attached && protocolErrors == errorsBefore) {
                        image->image = x;
                        image->shared = true;
                        return true;
                    }
                    shmdt(address);
                } else {
                    shmctl(image->shm.shmid, IPC_RMID, nullptr);
                }
            }
            x->data = nullptr;
            XDestroyImage(x);
        }
        // The server cannot see our memory (a display on another machine):
        // plain requests from now on.
        shm_ = false;
    }
    XImage *x = XCreateImage(display_, visual_, (unsigned)depth_, ZPixmap, 0, nullptr, (unsigned)width,
                             (unsigned)height, 32, 0);
    if (!x) return false;
    x->data = (char *)std::calloc((size_t)x->bytes_per_line, (size_t)height);
    if (!x->data) {
        XDestroyImage(x);
        return false;
    }
    image->image = x;
    image->shared = false;
    return true;
}

void X11Backend::FreeImage(Image *image) {
    if (!image->image) return;
    if (image->shared) {
        XShmDetach(display_, &image->shm);
        image->image->data = nullptr;
        XDestroyImage(image->image);
        shmdt(image->shm.shmaddr);
    } else {
        XDestroyImage(image->image);  // frees the pixels too
    }
    *image = Image();
}

uint32_t *X11Backend::SurfaceMemory(uintptr_t window, int width, int height) {
    NativeWindow *w = Find(window);
    if (!w || !shm_ || width <= 0 || height <= 0 || !x11::LayoutIsNative(layout_)) return nullptr;
    // The image the window is shown from becomes the surface itself: the
    // server reads the frame where the layer wrote it.
    FreeImage(&w->image);
    if (!MakeImage(&w->image, width, height)) return nullptr;
    XImage *x = w->image.image;
    if (!w->image.shared || x->bytes_per_line != width * 4) return nullptr;
    w->image.lent = true;
    return reinterpret_cast<uint32_t *>(x->data);
}

void X11Backend::Present(uintptr_t window, const uint32_t *pixels, int width, int height,
                         const std::vector<RECT> &dirty) {
    NativeWindow *w = Find(window);
    if (!w || !pixels || dirty.empty()) return;
    // A window the layer resized without saying so (a control that sized
    // itself) shows its whole new surface.
    if (width != w->area.right - w->area.left || height != w->area.bottom - w->area.top)
        PlaceNativeWindow(window, RECT{w->area.left, w->area.top, w->area.left + width, w->area.top + height});
    Image &image = w->image;
    const bool inPlace = image.lent && (const char *)pixels == image.image->data;
    // Memory lent to the layer stays until the layer asks again or the
    // window goes, whatever it is asked to show meanwhile.
    if (image.lent && !inPlace) return;
    if (!inPlace && (!image.image || image.width != width || image.height != height)) {
        FreeImage(&image);
        if (!MakeImage(&image, width, height)) return;
    }
    XImage *x = image.image;
    int bytesPerPixel = x->bits_per_pixel / 8;
    bool sent = false;
    for (const RECT &part : dirty) {
        RECT area;
        if (!ClipToSurface(part, width, height, &area)) continue;
        int columns = area.right - area.left;
        for (LONG y = area.top; y < area.bottom && !inPlace; ++y) {
            uint8_t *row = (uint8_t *)x->data + (size_t)y * (size_t)x->bytes_per_line + (size_t)area.left * bytesPerPixel;
            x11::ConvertRow(pixels + (size_t)y * (size_t)width + area.left, columns, layout_, row);
        }
        unsigned rows = (unsigned)(area.bottom - area.top);
        if (image.shared)
            XShmPutImage(display_, (Window)window, gc_, x, area.left, area.top, area.left, area.top,
                         (unsigned)columns, rows, False);
        else
            XPutImage(display_, (Window)window, gc_, x, area.left, area.top, area.left, area.top, (unsigned)columns,
                      rows);
        sent = true;
    }
    if (!sent) return;
    if (image.shared) {
        // The server reads the segment when it gets to the requests; the
        // next frame must not be written into it before then.
        XSync(display_, False);
    } else {
        XFlush(display_);
    }
}

void X11Backend::MovePointer(InputSink &sink, int x, int y) {
    if (pointerKnown_ && x == pointerX_ && y == pointerY_) return;
    pointerKnown_ = true;
    pointerX_ = x;
    pointerY_ = y;
    sink.PointerMoved(x, y);
}

void X11Backend::TakeInput(Window window) {
    if (!run_.empty()) {
        // One process of the run holds the keyboard, whichever asks first;
        // the others ask again until it is free (its monitor went, say).
        // The pointer is left to the window under it, so that each process
        // hears the movements over its own monitor.
        if (inputWanted_ != window) XSetInputFocus(display_, window, RevertToParent, CurrentTime);
        if (XGrabKeyboard(display_, window, True, GrabModeAsync, GrabModeAsync, CurrentTime) == GrabSuccess) {
            inputWanted_ = 0;
            return;
        }
        inputWanted_ = window;
        inputDeadline_ = LLONG_MAX;
        nextInputTry_ = MonotonicMs() + kGrabRetryIntervalMs;
        return;
    }
    XSetInputFocus(display_, window, RevertToParent, CurrentTime);
    int keyboard = XGrabKeyboard(display_, window, True, GrabModeAsync, GrabModeAsync, CurrentTime);
    int pointer = XGrabPointer(display_, window, True, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
                               GrabModeAsync, GrabModeAsync, None, None, CurrentTime);
    if (keyboard == GrabSuccess && pointer == GrabSuccess) {
        inputWanted_ = 0;
        return;
    }
    if (keyboard == GrabSuccess) XUngrabKeyboard(display_, CurrentTime);
    if (pointer == GrabSuccess) XUngrabPointer(display_, CurrentTime);
    long long now = MonotonicMs();
    if (inputWanted_ != window) {
        inputWanted_ = window;
        inputDeadline_ = now + kGrabRetryMs;
    }
    nextInputTry_ = now + kGrabRetryIntervalMs;
}

void X11Backend::RetryInput() {
    if (!inputWanted_) return;
    long long now = MonotonicMs();
    if (now >= inputDeadline_) {
        inputWanted_ = 0;
        return;
    }
    if (now >= nextInputTry_) TakeInput(inputWanted_);
}

bool X11Backend::Handle(XEvent &event, InputSink &sink) {
    if (randrEvents_ >= 0 &&
        (event.type == randrEvents_ + RRScreenChangeNotify || event.type == randrEvents_ + RRNotify)) {
        if (event.type == randrEvents_ + RRScreenChangeNotify) XRRUpdateConfiguration(&event);
        displayChanged_ = true;
        return false;
    }
    switch (event.type) {
    case Expose: {
        if (!Find(event.xexpose.window)) return false;
        const XExposeEvent &e = event.xexpose;
        sink.Exposed(e.window, RECT{e.x, e.y, e.x + e.width, e.y + e.height});
        return true;
    }
    case KeyPress:
    case KeyRelease: {
        KeySym unshifted = XLookupKeysym(&event.xkey, 0);
        KeySym shifted = XLookupKeysym(&event.xkey, 1);
        UINT vk = VirtualKeyForKeysyms(unshifted, shifted, (event.xkey.state & numLockMask_) != 0);
        sink.KeyChanged(vk, event.type == KeyPress, (event.xkey.state & Mod1Mask) != 0);
        return true;
    }
    case ButtonPress:
    case ButtonRelease: {
        MovePointer(sink, event.xbutton.x_root, event.xbutton.y_root);
        bool down = event.type == ButtonPress;
        x11::PointerButton button = x11::TranslateButton(event.xbutton.button);
        switch (button.action) {
        case x11::PointerAction::Left: sink.ButtonChanged(Button::Left, down); break;
        case x11::PointerAction::Middle: sink.ButtonChanged(Button::Middle, down); break;
        case x11::PointerAction::Right: sink.ButtonChanged(Button::Right, down); break;
        // A wheel step is a press and a release; one turn is reported.
        case x11::PointerAction::Wheel:
            if (down) sink.WheelTurned(button.wheelDelta, false);
            break;
        case x11::PointerAction::HorizontalWheel:
            if (down) sink.WheelTurned(button.wheelDelta, true);
            break;
        case x11::PointerAction::Ignored: break;
        }
        return true;
    }
    case MotionNotify: {
        // Only where the pointer is now matters; moves still queued are
        // folded into the last one.
        while (XCheckTypedWindowEvent(display_, event.xmotion.window, MotionNotify, &event)) {
        }
        MovePointer(sink, event.xmotion.x_root, event.xmotion.y_root);
        return true;
    }
    case MapNotify:
        if (NativeWindow *w = Find(event.xmap.window)) {
            w->mapped = true;
            if (w->takesInput) TakeInput(event.xmap.window);
            if (w->managed) {
                if (focusWanted_ == event.xmap.window) FocusNativeWindow(event.xmap.window);
                ReportPlace(event.xmap.window, sink);
                return true;
            }
        }
        return false;
    case UnmapNotify:
        if (NativeWindow *w = Find(event.xunmap.window)) w->mapped = false;
        return false;
    case ConfigureNotify:
    case ReparentNotify: {
        Window window = event.type == ConfigureNotify ? event.xconfigure.window : event.xreparent.window;
        NativeWindow *w = Find(window);
        if (!w || !w->managed) return false;
        ReportPlace(window, sink);
        return true;
    }
    case FocusIn: {
        const XFocusChangeEvent &e = event.xfocus;
        if (!x11::FocusChosenForWindow(e.mode, e.detail)) return false;
        NativeWindow *w = Find(e.window);
        if (!w || !w->managed) return false;
        sink.NativeWindowFocused(e.window);
        return true;
    }
    case DestroyNotify: {
        uintptr_t gone = event.xdestroywindow.window;
        if (NativeWindow *w = Find(gone)) {
            // The server has let go of it already; only our side remains.
            // A surface the layer keeps in the image goes with the window's
            // record, when the layer is done with it.
            if (!w->image.lent) FreeImage(&w->image);
            sink.NativeWindowGone(gone);
            return true;
        }
        if (watchedParents_.erase(gone)) {
            sink.NativeWindowGone(gone);
            return true;
        }
        return false;
    }
    case MappingNotify:
        // Key symbols are looked up in Xlib's copy of the keyboard map; a
        // layout switch (or a tool adding a key) makes it stale.
        if (event.xmapping.request == MappingKeyboard || event.xmapping.request == MappingModifier)
            XRefreshKeyboardMapping(&event.xmapping);
        return false;
    case ClientMessage:
        if (event.xclient.message_type == atoms_[kWmProtocols] && event.xclient.format == 32 &&
            (Atom)event.xclient.data.l[0] == atoms_[kWmDeleteWindow] && Find(event.xclient.window)) {
            sink.CloseRequested(event.xclient.window);
            return true;
        }
        return false;
    }
    return false;
}

bool X11Backend::WaitForEvents(int timeoutMs, InputSink &sink) {
    long long deadline = timeoutMs > 0 ? MonotonicMs() + timeoutMs : 0;
    int wake = TerminationWakeDescriptor();
    bool reported = false;
    for (;;) {
        while (XPending(display_)) {
            XEvent event;
            XNextEvent(display_, &event);
            if (Handle(event, sink)) reported = true;
        }
        if (displayChanged_) {
            displayChanged_ = false;
            sink.DisplayChanged();
            reported = true;
        }
        RetryInput();
        if (reported || timeoutMs == 0) return reported;
        int left = -1;
        if (timeoutMs > 0) {
            long long remaining = deadline - MonotonicMs();
            if (remaining <= 0) return false;
            left = (int)remaining;
        }
        if (inputWanted_) {
            int untilRetry = (int)std::max<long long>(0, nextInputTry_ - MonotonicMs());
            left = left < 0 ? untilRetry : std::min(left, untilRetry);
        }
        XFlush(display_);
        struct pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wake, POLLIN, 0}};
        int ready = poll(fds, wake >= 0 ? 2 : 1, left);
        if (ready < 0 && errno != EINTR) return reported;
        // A request to end the run is the layer's to act on.
        if (ready > 0 && wake >= 0 && (fds[1].revents & POLLIN)) return true;
    }
}

void X11Backend::SetCursorVisible(bool visible) {
    cursorHidden_ = !visible;
    for (auto &entry : windows_) {
        if (cursorHidden_)
            XDefineCursor(display_, (Window)entry.first, blank_);
        else
            XUndefineCursor(display_, (Window)entry.first);
    }
    XFlush(display_);
}

void X11Backend::WarpPointer(int x, int y) {
    XWarpPointer(display_, None, root_, 0, 0, 0, 0, x, y);
    XFlush(display_);
    // The layer has reported this move itself; the server's motion event
    // for it must not come as a second one.
    pointerKnown_ = true;
    pointerX_ = x;
    pointerY_ = y;
}

bool X11Backend::PointerPosition(int *x, int *y) {
    Window rootReturn, child;
    int rootX, rootY, windowX, windowY;
    unsigned int buttons;
    if (!XQueryPointer(display_, root_, &rootReturn, &child, &rootX, &rootY, &windowX, &windowY, &buttons))
        return false;  // on another screen of the display
    *x = rootX;
    *y = rootY;
    return true;
}

bool X11Backend::ReadText(Window window, Atom property, std::string *text) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display_, window, property, 0, 1024, False, AnyPropertyType, &type, &format, &count,
                           &after, &data) != Success)
        return false;
    bool ok = data && format == 8 && type != None;
    if (ok) text->assign((const char *)data, count);
    if (data) XFree(data);
    return ok;
}

uintptr_t X11Backend::FindForeignWindow(const char *className, const char *title) {
    // Top-level windows, the top of the stack first as FindWindow goes, then
    // those a window manager has put into frames of its own.
    std::vector<Window> candidates;
    Window rootReturn, parentReturn, *children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(display_, root_, &rootReturn, &parentReturn, &children, &count)) {
        for (unsigned int i = count; i-- > 0;) candidates.push_back(children[i]);
        if (children) XFree(children);
    }
    Atom type;
    int format;
    unsigned long items, after;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(display_, root_, atoms_[kNetClientList], 0, 65536, False, XA_WINDOW, &type, &format, &items,
                           &after, &data) == Success &&
        data && format == 32) {
        const long *list = (const long *)data;
        for (unsigned long i = 0; i < items; ++i)
            if (std::find(candidates.begin(), candidates.end(), (Window)list[i]) == candidates.end())
                candidates.push_back((Window)list[i]);
    }
    if (data) XFree(data);

    for (Window candidate : candidates) {
        if (Find(candidate)) continue;  // the layer has looked at its own windows
        std::string run;
        if (!run_.empty() && ReadText(candidate, atoms_[kVantrelRun], &run) && run == run_) continue;
        // Only windows of programs on this layer carry a Win32 class.
        std::string cls;
        if (!ReadText(candidate, atoms_[kWin32Class], &cls)) continue;
        if (className && !SameNoCase(cls, className)) continue;
        if (title) {
            std::string name;
            if (!ReadText(candidate, XA_WM_NAME, &name) || !SameNoCase(name, title)) continue;
        }
        return candidate;
    }
    return 0;
}

bool X11Backend::ReadWorkArea(RECT *area) {
    Atom type;
    int format;
    unsigned long items, after;
    unsigned char *data = nullptr;
    long desktop = 0;
    if (XGetWindowProperty(display_, root_, atoms_[kNetCurrentDesktop], 0, 1, False, XA_CARDINAL, &type, &format,
                           &items, &after, &data) == Success &&
        data && format == 32 && items == 1)
        desktop = ((const long *)data)[0];
    if (data) XFree(data);
    data = nullptr;
    bool ok = false;
    if (desktop >= 0 && desktop < 64 &&
        XGetWindowProperty(display_, root_, atoms_[kNetWorkarea], desktop * 4, 4, False, XA_CARDINAL, &type, &format,
                           &items, &after, &data) == Success &&
        data && format == 32 && items == 4) {
        const long *v = (const long *)data;
        *area = {(LONG)v[0], (LONG)v[1], (LONG)(v[0] + v[2]), (LONG)(v[1] + v[3])};
        ok = v[2] > 0 && v[3] > 0;
    }
    if (data) XFree(data);
    return ok;
}

std::vector<Monitor> X11Backend::Monitors() {
    std::vector<Monitor> monitors;
    // RandR 1.5 knows monitors as the desktop has them (a monitor may span
    // outputs); Xinerama is what servers had before; else the root is one.
    int major = 0, minor = 0;
    if (randrEvents_ >= 0 && XRRQueryVersion(display_, &major, &minor) && (major > 1 || (major == 1 && minor >= 5))) {
        int count = 0;
        if (XRRMonitorInfo *list = XRRGetMonitors(display_, root_, True, &count)) {
            for (int i = 0; i < count; ++i) {
                if (list[i].width <= 0 || list[i].height <= 0) continue;
                Monitor m;
                m.rect = {list[i].x, list[i].y, list[i].x + list[i].width, list[i].y + list[i].height};
                m.primary = list[i].primary != 0;
                if (char *name = XGetAtomName(display_, list[i].name)) {
                    m.name = name;
                    XFree(name);
                }
                monitors.push_back(m);
            }
            XRRFreeMonitors(list);
        }
    }
    // A server of several screens joined by Xinerama may answer RandR for
    // its first screen alone: Xinerama knows more then.
    int xineramaEvents = 0, xineramaErrors = 0;
    if (XineramaQueryExtension(display_, &xineramaEvents, &xineramaErrors) && XineramaIsActive(display_)) {
        int count = 0;
        XineramaScreenInfo *screens = XineramaQueryScreens(display_, &count);
        if (screens && count > (int)monitors.size()) {
            monitors.clear();
            for (int i = 0; i < count; ++i) {
                if (screens[i].width <= 0 || screens[i].height <= 0) continue;
                Monitor m;
                m.rect = {screens[i].x_org, screens[i].y_org, screens[i].x_org + screens[i].width,
                          screens[i].y_org + screens[i].height};
                m.name = "XINERAMA" + std::to_string(screens[i].screen_number);
                monitors.push_back(m);
            }
        }
        if (screens) XFree(screens);
    }
    if (monitors.empty()) return Backend::Monitors();
    // The primary first; a display that names none has its first one so.
    auto primary = std::find_if(monitors.begin(), monitors.end(), [](const Monitor &m) { return m.primary; });
    if (primary != monitors.end()) std::rotate(monitors.begin(), primary, primary + 1);
    for (size_t i = 0; i < monitors.size(); ++i) monitors[i].primary = i == 0;
    RECT workArea;
    bool haveWorkArea = ReadWorkArea(&workArea);
    for (Monitor &m : monitors) {
        m.work = m.rect;
        if (!haveWorkArea) continue;
        RECT r = {std::max(m.rect.left, workArea.left), std::max(m.rect.top, workArea.top),
                  std::min(m.rect.right, workArea.right), std::min(m.rect.bottom, workArea.bottom)};
        if (r.left < r.right && r.top < r.bottom) m.work = r;
    }
    return monitors;
}

bool X11Backend::IsForeignWindow(uintptr_t window) {
    if (!window || window > 0xFFFFFFFFu) return false;
    XWindowAttributes attributes;
    return XGetWindowAttributes(display_, (Window)window, &attributes) != 0;
}

bool X11Backend::ForeignWindowRect(uintptr_t window, RECT *screenRect) {
    if (!window || window > 0xFFFFFFFFu) return false;
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, (Window)window, &attributes)) return false;
    int x = 0, y = 0;
    Window child;
    if (!XTranslateCoordinates(display_, (Window)window, root_, 0, 0, &x, &y, &child)) return false;
    *screenRect = {x, y, x + attributes.width, y + attributes.height};
    return true;
}

}  // namespace

std::unique_ptr<Backend> CreateX11Backend(const char *displayName, std::string *why) {
    std::string ignored;
    return X11Backend::Create(displayName, why ? why : &ignored);
}

}  // namespace layer
