// Preloaded (LD_PRELOAD) into the saver by the end-to-end scripts: every
// process of a run, the one that starts it and the one it starts for each
// monitor, writes its standard error to a file of its own,
// $VANTREL_STDERR_DIR/PID. A run's processes all share one standard error,
// and their Wayland protocol traces (WAYLAND_DEBUG) use the same object
// numbers, so only apart can one output's saver be told from another's.
//
// The file starts with one line, "process PID parent PPID monitor NAME",
// NAME being the monitor a process of a run was started for (VANTREL_MONITOR_NAME,
// "-" for none). Without VANTREL_STDERR_DIR, or when the file cannot be
// made, nothing changes.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

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
    dprintf(fd, "process %ld parent %ld monitor %s\n", static_cast<long>(getpid()), static_cast<long>(getppid()),
            monitor && *monitor ? monitor : "-");
    dup2(fd, 2);
    close(fd);
}

}  // namespace
