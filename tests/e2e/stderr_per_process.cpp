// Preloaded (LD_PRELOAD) into the saver by the end-to-end scripts: every
// process of a run, the one that starts it and the one it starts for each
// monitor, writes its standard error to a file of its own,
// $VANTREL_STDERR_DIR/PID. A run's processes all share one standard error,
// and their Wayland protocol traces (WAYLAND_DEBUG) use the same object
// numbers, so only apart can one output's saver be told from another's.
//
// The file starts with one line, "process PID started T parent PPID monitor
// NAME": T the process's start on the monotonic clock, in seconds (pids wrap,
// so they do not order a run's processes), NAME the monitor it was started
// for (VANTREL_MONITOR_NAME, "-" for none). Without VANTREL_STDERR_DIR, or
// when the file cannot be made, nothing changes.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

__attribute__((constructor)) void StderrApart() {
    const char *dir = std::getenv("VANTREL_STDERR_DIR");
    if (!dir || !*dir) return;
    char path[4096];
    if (std::snprintf(path, sizeof path, "%s/%ld", dir, static_cast<long>(getpid())) >= static_cast<int>(sizeof path))
        return;
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const char *monitor = std::getenv("VANTREL_MONITOR_NAME");
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    dprintf(fd, "process %ld started %lld.%09ld parent %ld monitor %s\n", static_cast<long>(getpid()),
            static_cast<long long>(now.tv_sec), now.tv_nsec, static_cast<long>(getppid()),
            monitor && *monitor ? monitor : "-");
    dup2(fd, 2);
    close(fd);
}

}  // namespace
