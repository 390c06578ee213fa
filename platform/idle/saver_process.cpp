// The watcher's processes: the one-per-session lock, and the saver it
// starts and ends.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "idle/watcher_internal.h"

namespace idle {

namespace {

// A display's name as part of a file name: Wayland's may be a whole path.
std::string FileNamePart(const std::string &display) {
    std::string part;
    for (char c : display) part += (c == '/' || c == '\0') ? '_' : c;
    if (part.size() > 100) part = part.substr(part.size() - 100);
    return part.empty() ? "none" : part;
}

}  // namespace

std::string SessionLockPath(const std::string &display, const char *runtimeDir, uid_t uid) {
    std::string folder;
    if (runtimeDir && runtimeDir[0] == '/') {
        folder = runtimeDir;
    } else {
        // No runtime folder (a bare X session): one of our own in /tmp, which
        // must be ours alone, or anyone could hold our lock.
        folder = "/tmp/vantrel-saver-" + std::to_string(uid);
        mkdir(folder.c_str(), 0700);
        struct stat info;
        if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != uid ||
            (info.st_mode & 077) != 0)
            return "";
    }
    return folder + "/vantrel-saver-watch-" + FileNamePart(display) + ".lock";
}

int LockSession(const std::string &display, pid_t *otherPid, std::string *why) {
    *otherPid = 0;
    std::string path = SessionLockPath(display, std::getenv("XDG_RUNTIME_DIR"), getuid());
    if (path.empty()) {
        *why = "no private folder for the watcher's lock";
        return -2;
    }
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *why = path + ": " + std::strerror(errno);
        return -2;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        if (error == EWOULDBLOCK) {
            char text[32] = {};
            ssize_t got = pread(fd, text, sizeof text - 1, 0);
            long pid = got > 0 ? std::strtol(text, nullptr, 10) : 0;
            *otherPid = pid > 0 && pid < (1L << 30) ? (pid_t)pid : 0;
            close(fd);
            return -1;
        }
        *why = path + ": " + std::strerror(error);
        close(fd);
        return -2;
    }
    // Our pid for the next one to name; the lock is what counts.
    std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) != 0 || pwrite(fd, pid.data(), pid.size(), 0) != (ssize_t)pid.size()) {
        // A lock without the pid still does its work.
    }
    return fd;
}

pid_t StartSaver(const std::string &argv0, const void *signalMask) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    // The child. A saver must not outlive a watcher that was killed; and it
    // gets the signals the watcher took for its signalfd back.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    sigprocmask(SIG_SETMASK, static_cast<const sigset_t *>(signalMask), nullptr);
    signal(SIGCHLD, SIG_DFL);
    // The watcher's lock, display and bus connections are not the saver's.
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    const char *argv[] = {argv0.empty() ? "vantrel-saver" : argv0.c_str(), "/s", nullptr};
    execv("/proc/self/exe", const_cast<char *const *>(argv));
    std::fprintf(stderr, "vantrel-saver: cannot start the saver: %s\n", std::strerror(errno));
    _exit(127);
}

std::string DescribeEnd(int waitStatus) {
    if (WIFEXITED(waitStatus)) return "exited with status " + std::to_string(WEXITSTATUS(waitStatus));
    if (WIFSIGNALED(waitStatus)) {
        int number = WTERMSIG(waitStatus);
        const char *name = strsignal(number);
        return "was killed by signal " + std::to_string(number) + (name ? std::string(" (") + name + ")" : "");
    }
    return "ended";
}

void EndSaver(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    // The saver ends its windows and its monitors' children first; a
    // generous moment, then no more waiting.
    for (int tries = 0; tries < 300; ++tries) {
        if (waitpid(pid, nullptr, WNOHANG) != 0) return;
        timespec pause = {0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

}  // namespace idle
