// The watcher's own pieces behind RunWatcher: its settings, the rule that
// decides when a saver starts, the one-per-session lock and the saver's
// process. Kept apart from watcher.h (the interface the sources and the
// holders of idle share) and pure where they can be, so tests reach them.
#pragma once

#include <sys/types.h>

#include <string>

namespace vantrel::registry {
struct Value;
}

namespace idle {

// What the user set under HKEY_CURRENT_USER\Control Panel\Desktop.
struct DesktopSettings {
    bool active = true;             // ScreenSaveActive
    unsigned timeoutSeconds = 600;  // ScreenSaveTimeOut
    bool operator==(const DesktopSettings &) const = default;
};
constexpr unsigned kDefaultTimeoutSeconds = 600;
// The longest wait the system's own panel offers: 9999 minutes.
constexpr unsigned kLongestTimeoutSeconds = 9999 * 60;

// The settings from the two stored values (null: absent). Strings as
// Windows stores them, or a REG_DWORD; anything unreadable is the default.
DesktopSettings SettingsFromValues(const vantrel::registry::Value *active, const vantrel::registry::Value *timeout);
// The settings as the registry file at `path` holds them now ("" or a
// missing file: the defaults).
DesktopSettings ReadDesktopSettings(const std::string &path);

// Notices changes to one file: inotify on its folder, since the layer saves
// by writing a temporary file and renaming it over the old one.
class FileWatch {
  public:
    explicit FileWatch(const std::string &path);
    ~FileWatch();
    FileWatch(const FileWatch &) = delete;
    FileWatch &operator=(const FileWatch &) = delete;
    int Fd() const { return fd_; }
    // Why changes go unnoticed ("" when they are watched).
    const std::string &Problem() const { return problem_; }
    // Reads what inotify said; true when the file may have changed.
    bool Changed();

  private:
    void AddWatch();
    std::string folder_, name_, problem_;
    int fd_ = -1;
    int watch_ = -1;
};

// The state the watcher decides on. `spent`: a saver was started in this
// spell of idleness, so another waits for input and a new idle (a saver
// that crashed is not started again and again).
struct WatchState {
    bool active = true;  // the user's ScreenSaveActive
    bool idle = false;   // the source said idle and no input since
    bool held = false;   // someone holds idle off
    bool saverRunning = false;
    bool spent = false;
};
enum class Step { Wait, StartSaver, Quit };
Step Decide(const WatchState &state);
void NoteIdle(WatchState &state);
void NoteActive(WatchState &state);
void NoteSaverStarted(WatchState &state);
void NoteSaverEnded(WatchState &state);
// A new timeout: the source reports idle again from the start.
void NoteRearmed(WatchState &state);

// One watcher per session: a lock on a file named by the display. Returns
// the descriptor that holds it (kept open for the process's life), -1 when
// another watcher holds it (*otherPid: its pid, or 0 when unknown), or -2
// when no lock could be made at all (*why says why; the caller goes on).
int LockSession(const std::string &display, pid_t *otherPid, std::string *why);
// The lock's file for a display: under $XDG_RUNTIME_DIR, else a private
// folder of the user's in /tmp.
std::string SessionLockPath(const std::string &display, const char *runtimeDir, uid_t uid);

// The saver: this program with /s, in the watcher's environment, with the
// signal mask it had before the watcher blocked its signals. -1 on failure.
pid_t StartSaver(const std::string &argv0, const void *signalMask);
// How a child ended, for the log: "exited with status 0", "was killed by signal 11 (Segmentation fault)".
std::string DescribeEnd(int waitStatus);
// Ends the saver: SIGTERM, then SIGKILL after a grace time; reaps it.
void EndSaver(pid_t pid);

// X11 only: whether XScreenSaver's daemon already runs on $DISPLAY (its
// version in *version). False when the display cannot be opened.
bool XScreenSaverDaemonRuns(std::string *version);

}  // namespace idle
