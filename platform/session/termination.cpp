#include "session/termination.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace layer {

namespace {

volatile sig_atomic_t requested = 0;
volatile sig_atomic_t childExited = 0;
int wakePipe[2] = {-1, -1};
int holds = 0;
sigset_t heldFrom;  // the mask before the outermost hold

void OnTerminationSignal(int) {
    int saved = errno;
    requested = 1;
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    if (wakePipe[1] >= 0) {
        char byte = 1;
        // A full pipe already says all there is to say.
        ssize_t ignored = write(wakePipe[1], &byte, 1);
        (void)ignored;
    }
    errno = saved;
}

void Wake() {
    if (wakePipe[1] >= 0) {
        char byte = 1;
        ssize_t ignored = write(wakePipe[1], &byte, 1);
        (void)ignored;
    }
}

void OnChildExit(int) {
    int saved = errno;
    childExited = 1;
    Wake();
    errno = saved;
}

void Drain() {
    if (wakePipe[0] < 0) return;
    char buffer[64];
    while (read(wakePipe[0], buffer, sizeof buffer) > 0) {
    }
}

}  // namespace

void InstallTerminationHandlers() {
    if (wakePipe[0] < 0) {
        if (pipe(wakePipe) != 0) {
            wakePipe[0] = wakePipe[1] = -1;
        } else {
            for (int fd : wakePipe) {
                fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
                fcntl(fd, F_SETFD, FD_CLOEXEC);
            }
        }
    }
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    // Restarting keeps slow system calls elsewhere from failing; the wake
    // descriptor is what ends a wait.
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

int TerminationWakeDescriptor() { return wakePipe[0]; }

bool TakeTerminationRequest() {
    if (!requested) return false;
    requested = 0;
    Drain();
    return true;
}

void ClearTerminationRequest() {
    requested = 0;
    Drain();
}

void WatchChildExits() {
    struct sigaction action = {};
    action.sa_handler = OnChildExit;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    sigaction(SIGCHLD, &action, nullptr);
}

bool TakeChildExit() {
    // Drained first: an end that comes after this is a byte for the next wait.
    Drain();
    if (!childExited) return false;
    childExited = 0;
    return true;
}

void HoldTermination() {
    if (holds++ > 0) return;
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &ending, &heldFrom);
}

void ReleaseTermination() {
    if (holds <= 0 || --holds > 0) return;
    pthread_sigmask(SIG_SETMASK, &heldFrom, nullptr);
}

}  // namespace layer
