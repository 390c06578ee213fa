// The display backend on an X server. A window of the program is an X
// window whose id is its HWND; the full-screen saver is an override-redirect
// window over the root that takes the keyboard and pointer, a preview is a
// child of the foreign window named on the command line. Pixels reach the
// server through MIT-SHM where the server can see our memory, else in plain
// requests, and only the part of a window that changed.
#include "backends/x11/x11_backend.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace layer {
namespace x11 {

unsigned long protocolErrors = 0;

namespace {

// Xlib's own handler ends the process on any protocol error. Ours only
// counts them: a request on a window that another process has destroyed
// meanwhile is an everyday event for a preview, not a reason to die.
int CountProtocolError(Display *, XErrorEvent *) {
    ++protocolErrors;
    return 0;
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

}  // namespace

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
    FreeStaging();
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


}  // namespace x11

std::unique_ptr<Backend> CreateX11Backend(const char *displayName, std::string *why) {
    std::string ignored;
    return x11::X11Backend::Create(displayName, why ? why : &ignored);
}

}  // namespace layer
