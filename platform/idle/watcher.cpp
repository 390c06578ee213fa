// The watcher's loop: settings, the idle source, the holders of idle, and
// the saver it starts. It sleeps in poll() with no timeout: every wake-up is
// an event (input after idle, idle, a bus message, a settings file saved, a
// saver ended, a signal), so a session at rest costs nothing.
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <layer_hooks.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "idle/watcher.h"
#include "idle/watcher_internal.h"

namespace idle {

// --- the rule --------------------------------------------------------------------

Step Decide(const WatchState &state) {
    if (!state.active) return Step::Quit;
    if (state.idle && !state.held && !state.saverRunning && !state.spent) return Step::StartSaver;
    return Step::Wait;
}

void NoteIdle(WatchState &state) { state.idle = true; }

void NoteActive(WatchState &state) {
    state.idle = false;
    state.spent = false;
}

void NoteSaverStarted(WatchState &state) {
    state.saverRunning = true;
    state.spent = true;
}

void NoteSaverEnded(WatchState &state) { state.saverRunning = false; }

// Whether this spell was spent stays: a new timeout is no input, and a
// saver that crashed must still wait for one.
void NoteRearmed(WatchState &state) { state.idle = false; }

// --- the loop --------------------------------------------------------------------

namespace {

void Say(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char *format, ...) {
    char line[1024];
    va_list list;
    va_start(list, format);
    std::vsnprintf(line, sizeof line, format, list);
    va_end(list);
    std::fprintf(stderr, "vantrel-saver: %s\n", line);
    std::fflush(stderr);
}

struct Bus {
    sd_bus *bus = nullptr;
    ~Bus() {
        if (bus) sd_bus_flush_close_unref(bus);
    }
    // Runs what has come in. False when the connection is gone.
    bool Process() {
        for (;;) {
            int result = sd_bus_process(bus, nullptr);
            if (result < 0) return false;
            if (result == 0) return true;
        }
    }
};

std::string Join(const std::vector<std::string> &parts) {
    std::string text;
    for (const std::string &part : parts) text += (text.empty() ? "" : ", ") + part;
    return text.empty() ? "someone" : text;
}

std::string HomeFolder() {
    const char *home = std::getenv("HOME");
    if (home && *home) return home;
    const passwd *user = getpwuid(getuid());
    return user && user->pw_dir ? user->pw_dir : "";
}

// Milliseconds until sd-bus wants to run again (a reply it waits for),
// or -1 when it waits for nothing.
int BusTimeout(sd_bus *bus) {
    uint64_t until = UINT64_MAX;
    if (!bus || sd_bus_get_timeout(bus, &until) < 0 || until == UINT64_MAX) return -1;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t nowUs = (uint64_t)now.tv_sec * 1000000 + (uint64_t)now.tv_nsec / 1000;
    if (until <= nowUs) return 0;
    uint64_t ms = (until - nowUs + 999) / 1000;
    return ms > 3600000 ? 3600000 : (int)ms;
}

int EarlierTimeout(int a, int b) {
    if (a < 0) return b;
    if (b < 0) return a;
    return a < b ? a : b;
}

class Watcher {
  public:
    int Run(const std::vector<std::string> &arguments);

  private:
    bool OpenSource(int *status);
    void OpenInhibitors();
    bool Loop();
    void Think();
    void ReapChildren();
    bool ReadSignals();
    bool SettingsChanged();
    int Finish(int status);

    std::string program_ = "vantrel-saver";
    std::string settingsPath_;
    DesktopSettings settings_;
    WatchState state_;
    std::string over_;  // why the session is over, once it is
    sigset_t oldMask_;
    int signalFd_ = -1;
    pid_t saver_ = -1;
    Bus session_, system_;
    std::unique_ptr<FileWatch> settingsWatch_;
    std::unique_ptr<IdleSource> source_;
    std::unique_ptr<Inhibitors> service_, logind_;
    // The holders there are, for the loop to ask and to poll.
    std::vector<Inhibitors *> Holders() const {
        std::vector<Inhibitors *> all;
        for (Inhibitors *one : {service_.get(), logind_.get()})
            if (one) all.push_back(one);
        return all;
    }
};

int Watcher::Run(const std::vector<std::string> &arguments) {
    if (!arguments.empty() && !arguments[0].empty()) program_ = arguments[0];
    for (size_t i = 2; i < arguments.size(); ++i) Say("--watch takes no arguments; '%s' is ignored", arguments[i].c_str());
    settingsPath_ = layer::RegistryFilePath(std::getenv("VANTREL_REGISTRY"), std::getenv("XDG_CONFIG_HOME"),
                                            HomeFolder().c_str());
    // Watched before the first read: a save in between is not lost.
    settingsWatch_ = std::make_unique<FileWatch>(settingsPath_);
    settings_ = ReadDesktopSettings(settingsPath_);
    if (!settings_.active) {
        Say("the saver is turned off (ScreenSaveActive is 0); nothing to watch");
        return 0;
    }
    state_.active = true;

    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    const char *x = std::getenv("DISPLAY");
    std::string display = wayland && *wayland ? wayland : x && *x ? x : "";
    pid_t other = 0;
    std::string why;
    int lock = LockSession(display, &other, &why);
    if (lock == -1) {
        if (other > 0) Say("a watcher already runs in this session (pid %d)", (int)other);
        else Say("a watcher already runs in this session");
        return 0;
    }
    if (lock == -2) Say("cannot make sure of one watcher per session: %s", why.c_str());

    // Signals come through a descriptor like everything else; SIGPIPE is
    // held so that a write to a closed connection fails instead.
    sigset_t taken;
    sigemptyset(&taken);
    for (int number : {SIGCHLD, SIGTERM, SIGINT, SIGHUP, SIGPIPE}) sigaddset(&taken, number);
    sigprocmask(SIG_BLOCK, &taken, &oldMask_);
    sigdelset(&taken, SIGPIPE);
    signalFd_ = signalfd(-1, &taken, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd_ < 0) {
        Say("cannot take signals: %s", std::strerror(errno));
        return 1;
    }

    if (!settingsWatch_->Problem().empty())
        Say("changes to the settings will not be noticed: %s", settingsWatch_->Problem().c_str());

    int status = 0;
    if (!OpenSource(&status)) return Finish(status);
    OpenInhibitors();
    source_->Arm(settings_.timeoutSeconds);
    Say("watching for idle with %s, after %u s", source_->Name().c_str(), settings_.timeoutSeconds);
    return Finish(Loop() ? 0 : 1);
}

bool Watcher::OpenSource(int *status) {
    IdleEvents events;
    events.idle = [this] { NoteIdle(state_); };
    events.active = [this] { NoteActive(state_); };
    events.ended = [this] { over_ = "the desktop's idle source went away"; };

    int result = sd_bus_open_user(&session_.bus);
    std::string sessionWhy = result < 0 ? std::string("no session bus (") + std::strerror(-result) + ")" : "";
    if (result < 0) session_.bus = nullptr;
    result = sd_bus_open_system(&system_.bus);
    std::string systemWhy = result < 0 ? std::string("no system bus (") + std::strerror(-result) + ")" : "";
    if (result < 0) system_.bus = nullptr;

    std::vector<std::string> reasons;
    std::string why;
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    const char *x = std::getenv("DISPLAY");
    if (wayland && *wayland) {
        source_ = OpenWaylandIdle(events, &why);
        if (!source_) reasons.push_back("Wayland: " + why);
    } else {
        reasons.push_back("Wayland: WAYLAND_DISPLAY is not set");
    }
    // XScreenSaver's daemon already starts savers on this display; a second
    // starter would fight it for the screen.
    std::string version;
    if (!source_ && x && *x && XScreenSaverDaemonRuns(&version)) {
        Say("XScreenSaver's daemon (%s) already runs on %s; it starts the savers there", version.c_str(), x);
        *status = 0;
        return false;
    }
    if (!source_ && session_.bus) {
        why.clear();
        source_ = OpenGnomeIdleMonitor(session_.bus, events, &why);
        if (!source_) reasons.push_back("GNOME: " + why);
    } else if (!source_) {
        reasons.push_back("GNOME: " + sessionWhy);
    }
    if (!source_ && x && *x) {
        why.clear();
        source_ = OpenX11Idle(events, &why);
        if (!source_) reasons.push_back("X11: " + why);
    } else if (!source_) {
        reasons.push_back("X11: DISPLAY is not set");
    }
    if (!source_) {
        std::string all;
        for (const std::string &reason : reasons) all += (all.empty() ? "" : "; ") + reason;
        Say("no way to learn when the session is idle: %s", all.c_str());
        *status = 1;
        return false;
    }
    if (!systemWhy.empty()) Say("logind's inhibitors are not honoured: %s", systemWhy.c_str());
    return true;
}

void Watcher::OpenInhibitors() {
    std::string why;
    if (session_.bus) {
        service_ = ServeScreenSaverInhibit(session_.bus, [] {}, &why);
        if (!service_) Say("not serving org.freedesktop.ScreenSaver: %s", why.c_str());
    } else {
        Say("not serving org.freedesktop.ScreenSaver: no session bus");
    }
    if (system_.bus) {
        why.clear();
        logind_ = WatchLogindInhibitors(system_.bus, [] {}, &why);
        if (!logind_) Say("logind's inhibitors are not honoured: %s", why.c_str());
    }
}

// The decisions, after whatever came in: holders, then the rule.
void Watcher::Think() {
    bool held = false;
    std::vector<std::string> holders;
    for (Inhibitors *inhibitor : Holders()) {
        if (!inhibitor->Held()) continue;
        held = true;
        for (std::string &holder : inhibitor->Holders()) holders.push_back(std::move(holder));
    }
    if (held != state_.held) {
        if (held) Say("idle is held off by %s", Join(holders).c_str());
        else Say("idle is no longer held off");
        state_.held = held;
    }
    if (Decide(state_) != Step::StartSaver) return;
    saver_ = StartSaver(program_, &oldMask_);
    if (saver_ < 0) Say("cannot start the saver: %s", std::strerror(errno));
    else Say("idle for %u s: the saver starts (pid %d)", settings_.timeoutSeconds, (int)saver_);
    NoteSaverStarted(state_);
    if (saver_ < 0) NoteSaverEnded(state_);
}

void Watcher::ReapChildren() {
    int waitStatus = 0;
    pid_t pid;
    while ((pid = waitpid(-1, &waitStatus, WNOHANG)) > 0) {
        if (pid != saver_) continue;
        Say("the saver %s", DescribeEnd(waitStatus).c_str());
        saver_ = -1;
        NoteSaverEnded(state_);
        // A saver ends cleanly only on input (or when told to): that is input
        // to us as well, even where the desktop said nothing of it. sway keeps
        // input from its idle protocol while an idle inhibitor is up, so a
        // video that started over the saver would otherwise leave us waiting
        // for an activity that never comes. A fresh watch counts from now.
        if (WIFEXITED(waitStatus) && WEXITSTATUS(waitStatus) == 0 && source_) {
            NoteActive(state_);
            NoteRearmed(state_);
            source_->Arm(settings_.timeoutSeconds);
        }
    }
}

// False when a signal asks the watcher to end.
bool Watcher::ReadSignals() {
    signalfd_siginfo info;
    bool end = false;
    while (read(signalFd_, &info, sizeof info) == (ssize_t)sizeof info) {
        if (info.ssi_signo == SIGCHLD) continue;
        end = true;
        over_ = std::string("ended by ") + (strsignal((int)info.ssi_signo) ? strsignal((int)info.ssi_signo) : "a signal");
    }
    ReapChildren();
    return !end;
}

// False when the saver was turned off.
bool Watcher::SettingsChanged() {
    DesktopSettings now = ReadDesktopSettings(settingsPath_);
    if (!now.active) {
        state_.active = false;
        return false;
    }
    if (now.timeoutSeconds != settings_.timeoutSeconds) {
        settings_ = now;
        // Before Arm: a source may report idle from inside it.
        NoteRearmed(state_);
        source_->Arm(settings_.timeoutSeconds);
        Say("now watching for %u s of idle", settings_.timeoutSeconds);
    }
    return true;
}

// True when the watcher ended as it should (the session over, a signal,
// the saver turned off).
bool Watcher::Loop() {
    enum { kSignals, kSettings, kSource, kSession, kSystem, kFirstInhibitor };
    for (;;) {
        if (!source_->Flush()) over_ = "the desktop's idle source went away";
        if (session_.bus && !session_.Process()) over_ = "the session bus went away";
        if (system_.bus && !system_.Process()) {
            // The system bus is not the session: lose logind's inhibitors only.
            Say("the system bus went away; logind's inhibitors are no longer honoured");
            logind_.reset();
            sd_bus_flush_close_unref(system_.bus);
            system_.bus = nullptr;
        }
        if (!over_.empty()) {
            Say("the session is over (%s)", over_.c_str());
            return true;
        }
        if (Decide(state_) == Step::Quit) {
            Say("the saver was turned off; the watcher ends");
            return true;
        }
        Think();

        std::vector<pollfd> fds(kFirstInhibitor, pollfd{-1, 0, 0});
        fds[kSignals] = {signalFd_, POLLIN, 0};
        fds[kSettings] = {settingsWatch_->Fd(), POLLIN, 0};
        fds[kSource] = {source_->Fd(), POLLIN, 0};
        int timeout = -1;
        for (auto [bus, slot] : {std::pair{session_.bus, (int)kSession}, std::pair{system_.bus, (int)kSystem}}) {
            if (!bus) continue;
            int events = sd_bus_get_events(bus);
            fds[slot] = {sd_bus_get_fd(bus), (short)(events > 0 ? events : POLLIN), 0};
            timeout = EarlierTimeout(timeout, BusTimeout(bus));
        }
        std::vector<Inhibitors *> holders = Holders();
        for (Inhibitors *inhibitor : holders) fds.push_back({inhibitor->Fd(), POLLIN, 0});
        if (poll(fds.data(), fds.size(), timeout) < 0) {
            if (errno == EINTR) continue;
            Say("poll: %s", std::strerror(errno));
            return false;
        }
        if (fds[kSignals].revents && !ReadSignals()) {
            Say("the watcher ends (%s)", over_.c_str());
            return true;
        }
        if (fds[kSettings].revents && settingsWatch_->Changed() && !SettingsChanged()) {
            Say("the saver was turned off; the watcher ends");
            return true;
        }
        if (fds[kSource].revents && !source_->Dispatch()) over_ = "the desktop's idle source went away";
        for (size_t i = 0; i < holders.size(); ++i) {
            if (fds[kFirstInhibitor + i].revents) holders[i]->Dispatch();
        }
    }
}

int Watcher::Finish(int status) {
    if (saver_ > 0) {
        EndSaver(saver_);
        saver_ = -1;
    }
    // The holders and the source go before the buses they use.
    service_.reset();
    logind_.reset();
    source_.reset();
    if (signalFd_ >= 0) close(signalFd_);
    return status;
}

}  // namespace

int RunWatcher(const std::vector<std::string> &arguments) {
    Watcher watcher;
    return watcher.Run(arguments);
}

}  // namespace idle
