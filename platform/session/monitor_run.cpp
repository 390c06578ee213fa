#include "session/monitor_run.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "session/layer_internal.h"
#include "session/termination.h"

extern char **environ;

namespace layer {

namespace {

// How often the parent looks at the monitors again; a display may change
// them without a word (an X server's monitors set by hand).
constexpr int kMonitorCheckMs = 1000;
// How long children have to end on SIGTERM before they are killed.
constexpr int kEndGraceMs = 3000;
// How long a child's end waits for the display's news of its monitor.
constexpr int kCatchUpMs = 5;

struct Child {
    pid_t pid = 0;
    Monitor monitor;      // in the display's coordinates
    bool retiring = false;  // its monitor went: its end is not the run's
};

long long NowMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

std::string Geometry(const RECT &r) {
    return std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + (r.left < 0 ? "-" : "+") +
           std::to_string(r.left < 0 ? -r.left : r.left) + (r.top < 0 ? "-" : "+") +
           std::to_string(r.top < 0 ? -r.top : r.top);
}

bool SameMonitor(const Monitor &a, const Monitor &b) {
    return a.name == b.name && a.rect.left == b.rect.left && a.rect.top == b.rect.top &&
           a.rect.right == b.rect.right && a.rect.bottom == b.rect.bottom;
}

// The monitors in the display's own coordinates, which is what a child is
// told: its own view of the display starts from them.
std::vector<Monitor> DisplayMonitors() {
    State &s = S();
    std::vector<Monitor> monitors = s.monitors;
    for (Monitor &m : monitors) {
        m.rect = {m.rect.left + s.displayOrigin.x, m.rect.top + s.displayOrigin.y, m.rect.right + s.displayOrigin.x,
                  m.rect.bottom + s.displayOrigin.y};
        m.work = {m.work.left + s.displayOrigin.x, m.work.top + s.displayOrigin.y, m.work.right + s.displayOrigin.x,
                  m.work.bottom + s.displayOrigin.y};
    }
    return monitors;
}

// Starts the program again for one monitor; 0 when it cannot be started.
pid_t StartChild(char **argv, const Monitor &monitor, const std::string &run) {
    // Everything the child needs is made before the fork: after it, only
    // calls that are safe there.
    std::vector<std::string> settings = {"VANTREL_MONITOR=" + Geometry(monitor.rect),
                                         "VANTREL_MONITOR_NAME=" + monitor.name, "VANTREL_RUN=" + run};
    std::vector<char *> environment;
    for (char **e = environ; e && *e; ++e) {
        if (!std::strncmp(*e, "VANTREL_MONITOR=", 16) || !std::strncmp(*e, "VANTREL_MONITOR_NAME=", 21) ||
            !std::strncmp(*e, "VANTREL_RUN=", 12))
            continue;
        environment.push_back(*e);
    }
    for (std::string &setting : settings) environment.push_back(setting.data());
    environment.push_back(nullptr);
    // The program's own file, so that a child is named as the program is.
    char path[4096];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return 0;
    path[length] = 0;
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) return 0;
    if (pid > 0) return pid;
    // The child: it goes when the parent goes, however the parent ends;
    // a parent gone already is noticed by who our parent is now.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGCHLD, SIG_DFL);
    execve(path, argv, environment.data());
    _exit(127);
}

void SignalAll(const std::vector<Child> &children, int signal) {
    for (const Child &child : children) kill(child.pid, signal);
}

int StatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return 1;
}

// A display's reports, of which the parent wants one: that the monitors
// changed.
class ParentSink final : public InputSink {
public:
    bool changed = false;
    void PointerMoved(int, int) override {}
    void ButtonChanged(Button, bool) override {}
    void WheelTurned(int, bool) override {}
    void KeyChanged(UINT, bool, bool) override {}
    void Exposed(uintptr_t, const RECT &) override {}
    void CloseRequested(uintptr_t) override {}
    void NativeWindowGone(uintptr_t) override {}
    void DisplayChanged() override { changed = true; }
};

class Run {
public:
    Run(char **argv) : argv_(argv), id_(std::to_string(getpid())) {}

    bool Start() {
        for (const Monitor &m : DisplayMonitors()) {
            pid_t pid = StartChild(argv_, m, id_);
            if (!pid) {
                // A saver on one process is better than none at all.
                SignalAll(children_, SIGTERM);
                EndAll();
                return false;
            }
            children_.push_back({pid, m, false});
        }
        return true;
    }

    int Wait() {
        long long nextCheck = NowMs() + kMonitorCheckMs;
        for (;;) {
            TakeChildExit();
            Reap();
            if (TakeTerminationRequest()) {
                ending_ = true;
                status_ = 0;
            }
            if (ending_) break;
            ParentSink sink;
            long long now = NowMs();
            if (now >= nextCheck) {
                sink.changed = true;
                nextCheck = now + kMonitorCheckMs;
            } else {
                S().backend->WaitForEvents((int)(nextCheck - now), sink);
            }
            if (sink.changed) FollowMonitors();
        }
        SignalAll(children_, SIGTERM);
        EndAll();
        return status_;
    }

private:
    void Reap() {
        int waitStatus = 0;
        pid_t pid;
        while ((pid = waitpid(-1, &waitStatus, WNOHANG)) > 0) {
            for (size_t i = 0; i < children_.size(); ++i) {
                if (children_[i].pid != pid) continue;
                if (!children_[i].retiring && !ending_ && !MonitorGone(children_[i].monitor)) {
                    ending_ = true;
                    status_ = StatusOf(waitStatus);
                }
                children_.erase(children_.begin() + (long)i);
                break;
            }
        }
    }

    // A child may hear that its monitor went before we do (a Wayland output
    // goes to every client at once, and its saver closes with it), and end
    // on its own: that end is its monitor's, not the run's. What the
    // display sent by now is read first; a short wait reads the socket.
    bool MonitorGone(const Monitor &monitor) {
        ParentSink sink;
        S().backend->WaitForEvents(kCatchUpMs, sink);
        RefreshMonitors();
        for (const Monitor &m : DisplayMonitors())
            if (SameMonitor(m, monitor)) return false;
        return true;
    }

    // Children of monitors that went are ended; monitors that came get one.
    void FollowMonitors() {
        RefreshMonitors();
        std::vector<Monitor> now = DisplayMonitors();
        for (Child &child : children_) {
            bool there = false;
            for (const Monitor &m : now) there = there || SameMonitor(m, child.monitor);
            if (!there && !child.retiring) {
                child.retiring = true;
                kill(child.pid, SIGTERM);
            }
        }
        for (const Monitor &m : now) {
            bool covered = false;
            for (const Child &child : children_) covered = covered || (!child.retiring && SameMonitor(m, child.monitor));
            if (covered) continue;
            if (pid_t pid = StartChild(argv_, m, id_)) children_.push_back({pid, m, false});
        }
    }

    // Waits for every child, killing those that outstay the grace time.
    void EndAll() {
        long long deadline = NowMs() + kEndGraceMs;
        bool killed = false;
        while (!children_.empty()) {
            int waitStatus = 0;
            pid_t pid = waitpid(-1, &waitStatus, WNOHANG);
            if (pid > 0) {
                for (size_t i = 0; i < children_.size(); ++i)
                    if (children_[i].pid == pid) children_.erase(children_.begin() + (long)i);
                continue;
            }
            if (pid < 0) break;  // none left that are ours
            if (!killed && NowMs() >= deadline) {
                SignalAll(children_, SIGKILL);
                killed = true;
            }
            struct timespec pause = {0, 10 * 1000000};
            nanosleep(&pause, nullptr);
        }
        children_.clear();
    }

    char **argv_;
    std::string id_;
    std::vector<Child> children_;
    bool ending_ = false;
    int status_ = 0;
};

}  // namespace

bool AsksForFullScreen(const char *commandTail) {
    const char *scan = commandTail ? commandTail : "";
    while (*scan == ' ' || *scan == '-' || *scan == '/') ++scan;
    return *scan == 's' || *scan == 'S';
}

bool RunOnePerMonitor(const char *commandTail, char **argv, int *status) {
    State &s = S();
    if (!AsksForFullScreen(commandTail) || s.confined || !s.run.empty()) return false;
    if (!s.backend || !s.backend->SavesMonitorsApart() || s.monitors.size() < 2) return false;
    WatchChildExits();
    Run run(argv);
    if (!run.Start()) {
        signal(SIGCHLD, SIG_DFL);
        return false;
    }
    *status = run.Wait();
    return true;
}

}  // namespace layer
