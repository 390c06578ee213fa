// The X11 backend's events: the keyboard and pointer the full-screen
// window takes, what the server reports turned into the layer's input, and
// the wait for the next event, a timer's due time or a request to end.
#include "backends/x11/x11_backend.h"

#include <X11/XKBlib.h>
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>
#include <errno.h>
#include <poll.h>

#include <algorithm>
#include <layer_hooks.h>

#include "session/termination.h"
#include "backends/keys.h"

namespace layer {
namespace x11 {

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
        if (Find(gone)) {
            // The server has let go of it already; our record goes when
            // the layer is done with it.
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

}  // namespace x11
}  // namespace layer
