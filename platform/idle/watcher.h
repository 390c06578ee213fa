// The watcher: one long-lived process per desktop session that starts the
// saver once the session has been idle for the time the user set, and not
// while anyone holds idle off. Its pieces talk through this header only:
// idle sources (one per kind of desktop), the holders of idle (our
// org.freedesktop.ScreenSaver service, logind's inhibitors), and the loop
// in watcher.cpp that owns the descriptors, the settings and the saver.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct sd_bus;

namespace idle {

// What a source reports. Each fires once per change: idle after the armed
// time without input, active at the first input after that. ended: the
// desktop behind the source went away (its bus name left, its connection
// closed), which means the session is over.
struct IdleEvents {
    std::function<void()> idle;
    std::function<void()> active;
    std::function<void()> ended;
};

// One way of learning that the session is idle. A source owns at most one
// descriptor of its own; one that rides on the session bus has none (the
// loop dispatches the bus, and the source's callbacks run from there).
class IdleSource {
  public:
    virtual ~IdleSource() = default;
    // Said once at start: "using ext-idle-notify-v1 (Wayland)".
    virtual std::string Name() const = 0;
    // The descriptor to poll for input, or -1.
    virtual int Fd() const = 0;
    // Before the loop sleeps: send what is queued. False when the
    // connection is gone.
    virtual bool Flush() { return true; }
    // After poll() said Fd() is readable (or failed): read and report.
    // False when the connection is gone, which means the session ended.
    virtual bool Dispatch() = 0;
    // Report idle after `seconds` without input, replacing any earlier
    // watch. Seconds are 1 or more.
    virtual void Arm(unsigned seconds) = 0;
    // Report nothing until armed again.
    virtual void Disarm() = 0;
    // Whether the desktop's own idle inhibitors (a video's Wayland
    // inhibitor, GNOME's and KDE's inhibit services) already hold this
    // source back, so idle never fires while one is held.
    virtual bool CountsDesktopInhibitors() const = 0;
};

// The sources, each tried in this order by the watcher. Each returns null
// and says why in *why when its desktop does not offer it.
// Wayland: ext-idle-notify-v1, else org_kde_kwin_idle, on $WAYLAND_DISPLAY.
std::unique_ptr<IdleSource> OpenWaylandIdle(const IdleEvents &events, std::string *why);
// GNOME: org.gnome.Mutter.IdleMonitor on the session bus.
std::unique_ptr<IdleSource> OpenGnomeIdleMonitor(sd_bus *session, const IdleEvents &events, std::string *why);
// X11: the XSync IDLETIME counter, woken by alarms.
std::unique_ptr<IdleSource> OpenX11Idle(const IdleEvents &events, std::string *why);

// Someone who holds idle off through the buses. Changes are reported
// through the callback given at the start; Held() may be asked any time.
class Inhibitors {
  public:
    virtual ~Inhibitors() = default;
    virtual bool Held() const = 0;
    // Who holds it, for the watcher's log: "firefox (playing video)".
    virtual std::vector<std::string> Holders() const = 0;
    // A descriptor of its own to poll (logind's inhibitor folder), or -1.
    virtual int Fd() const { return -1; }
    virtual void Dispatch() {}
};

// org.freedesktop.ScreenSaver's Inhibit and UnInhibit on both object paths
// browsers call, served when nobody else owns the name. Null, with *why
// saying who owns it, when the desktop serves it itself.
std::unique_ptr<Inhibitors> ServeScreenSaverInhibit(sd_bus *session, std::function<void()> changed,
                                                    std::string *why);
// logind's idle inhibitors (systemd-inhibit --what=idle). Null, with
// *why, where logind does not answer on the system bus.
std::unique_ptr<Inhibitors> WatchLogindInhibitors(sd_bus *system, std::function<void()> changed,
                                                  std::string *why);

// `vantrel-saver --watch [...]`: the watcher's whole run. Returns the
// process's exit status.
int RunWatcher(const std::vector<std::string> &arguments);

}  // namespace idle
