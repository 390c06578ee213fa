// Idle on X11: the XSync IDLETIME counter, woken by alarms. The server
// tells us when the counter passes the timeout, and once idle, when it
// falls back (input); in between we sleep.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/sync.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "idle/watcher.h"
#include "idle/watcher_internal.h"

namespace idle {

namespace {

// Errors on our connection are expected (a window gone between listing and
// reading it) and must not end the process, as Xlib's default would.
int IgnoreXError(Display *, XErrorEvent *) { return 0; }

// Xlib ends the process when a connection breaks; for the watcher that is
// the session ending, which ends it with 0. The saver follows by its
// parent-death signal.
int XConnectionLost(Display *) {
    std::fprintf(stderr, "vantrel-saver: the X server went away; the session is over\n");
    std::fflush(stderr);
    _exit(0);
}

void InstallXHandlers() {
    XSetErrorHandler(IgnoreXError);
    XSetIOErrorHandler(XConnectionLost);
}

XSyncValue Milliseconds(long long value) {
    XSyncValue result;
    XSyncIntsToValue(&result, (unsigned)(value & 0xffffffffu), (int)(value >> 32));
    return result;
}

class X11Idle : public IdleSource {
  public:
    X11Idle(Display *display, XSyncCounter counter, int eventBase, const IdleEvents &events)
        : display_(display), counter_(counter), eventBase_(eventBase), events_(events) {}
    ~X11Idle() override {
        if (alarm_ != None) XSyncDestroyAlarm(display_, alarm_);
        XCloseDisplay(display_);
    }

    std::string Name() const override { return "the X server's idle counter (XSync IDLETIME)"; }
    int Fd() const override { return ConnectionNumber(display_); }
    bool CountsDesktopInhibitors() const override { return false; }

    bool Flush() override {
        // Events a round trip already read would never wake poll().
        if (XEventsQueued(display_, QueuedAlready) > 0) HandleEvents();
        XFlush(display_);
        return true;
    }

    bool Dispatch() override {
        // A closed connection is the server's end: seen before Xlib would
        // see it and end the process itself.
        char byte;
        ssize_t got = recv(ConnectionNumber(display_), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return false;
        HandleEvents();
        XFlush(display_);
        return true;
    }

    void Arm(unsigned seconds) override {
        timeoutMs_ = (long long)seconds * 1000;
        WaitFor(true);
    }

    void Disarm() override {
        if (alarm_ != None) XSyncDestroyAlarm(display_, alarm_);
        alarm_ = None;
        XFlush(display_);
    }

  private:
    // One alarm at a time: at the timeout while waiting for idle, just under
    // it once idle (any input puts the counter back to zero).
    void WaitFor(bool idle) {
        // The server fires no alarm for a counter that is already past the
        // mark when the alarm is made (input between the idle alarm and the
        // next one, a timeout shortened below the idle time so far): such a
        // change is read from the counter and reported here. Each report
        // flips what is waited for; a few flips at most are possible.
        for (int flips = 0; flips < 4; ++flips) {
            MakeAlarm(idle);
            XSyncValue now;
            if (!XSyncQueryCounter(display_, counter_, &now)) return;
            long long value = ((long long)XSyncValueHigh32(now) << 32) | (unsigned)XSyncValueLow32(now);
            if (idle ? value < timeoutMs_ : value >= timeoutMs_) return;
            Report(idle);
            idle = !idle;
        }
        MakeAlarm(idle);
    }

    void Report(bool idle) {
        if (idle && events_.idle) events_.idle();
        if (!idle && events_.active) events_.active();
    }

    void MakeAlarm(bool idle) {
        if (alarm_ != None) XSyncDestroyAlarm(display_, alarm_);
        waitingForIdle_ = idle;
        XSyncAlarmAttributes attributes = {};
        attributes.trigger.counter = counter_;
        attributes.trigger.value_type = XSyncAbsolute;
        attributes.trigger.wait_value = Milliseconds(idle ? timeoutMs_ : timeoutMs_ - 1);
        attributes.trigger.test_type = idle ? XSyncPositiveComparison : XSyncNegativeComparison;
        attributes.delta = Milliseconds(0);
        attributes.events = True;
        alarm_ = XSyncCreateAlarm(display_,
                                  XSyncCACounter | XSyncCAValueType | XSyncCAValue | XSyncCATestType |
                                      XSyncCADelta | XSyncCAEvents,
                                  &attributes);
    }

    void HandleEvents() {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type != eventBase_ + XSyncAlarmNotify) continue;
            const XSyncAlarmNotifyEvent *notify = reinterpret_cast<const XSyncAlarmNotifyEvent *>(&event);
            // Only the alarm we wait on now, and only its firing (a destroyed
            // one reports too).
            if (notify->alarm != alarm_ || notify->state == XSyncAlarmDestroyed) continue;
            bool becameIdle = waitingForIdle_;
            Report(becameIdle);
            WaitFor(!becameIdle);
        }
    }

    Display *display_;
    XSyncCounter counter_;
    int eventBase_;
    IdleEvents events_;
    XSyncAlarm alarm_ = None;
    long long timeoutMs_ = 600 * 1000;
    bool waitingForIdle_ = true;
};

}  // namespace

std::unique_ptr<IdleSource> OpenX11Idle(const IdleEvents &events, std::string *why) {
    const char *name = std::getenv("DISPLAY");
    if (!name || !*name) {
        *why = "DISPLAY is not set";
        return nullptr;
    }
    InstallXHandlers();
    Display *display = XOpenDisplay(name);
    if (!display) {
        *why = std::string("cannot open display ") + name;
        return nullptr;
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XSyncQueryExtension(display, &eventBase, &errorBase) || !XSyncInitialize(display, &major, &minor)) {
        XCloseDisplay(display);
        *why = "the X server has no SYNC extension";
        return nullptr;
    }
    int count = 0;
    XSyncSystemCounter *counters = XSyncListSystemCounters(display, &count);
    XSyncCounter idleTime = None;
    for (int i = 0; counters && i < count; ++i) {
        if (counters[i].name && std::strcmp(counters[i].name, "IDLETIME") == 0) idleTime = counters[i].counter;
    }
    if (counters) XSyncFreeSystemCounterList(counters);
    if (idleTime == None) {
        XCloseDisplay(display);
        *why = "the X server has no IDLETIME counter";
        return nullptr;
    }
    return std::make_unique<X11Idle>(display, idleTime, eventBase, events);
}

bool XScreenSaverDaemonRuns(std::string *version) {
    const char *name = std::getenv("DISPLAY");
    if (!name || !*name) return false;
    InstallXHandlers();
    Display *display = XOpenDisplay(name);
    if (!display) return false;
    bool found = false;
    // The daemon marks a window of its own, a child of the root, with its
    // version; no atom means no daemon ever ran here.
    Atom property = XInternAtom(display, "_SCREENSAVER_VERSION", True);
    Window rootReturn = None, parent = None, *children = nullptr;
    unsigned count = 0;
    if (property != None &&
        XQueryTree(display, DefaultRootWindow(display), &rootReturn, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; ++i) {
            Atom type = None;
            int format = 0;
            unsigned long items = 0, after = 0;
            unsigned char *data = nullptr;
            if (XGetWindowProperty(display, children[i], property, 0, 64, False, XA_STRING, &type, &format, &items,
                                   &after, &data) == Success &&
                type == XA_STRING && format == 8 && data) {
                found = true;
                *version = std::string(reinterpret_cast<char *>(data), items);
            }
            if (data) XFree(data);
        }
    }
    if (children) XFree(children);
    XCloseDisplay(display);
    return found;
}

}  // namespace idle
