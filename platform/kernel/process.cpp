// Processes of our own: CreateProcessA and the handle calls a parent makes on
// its children (wait, exit code, terminate, close), the program's own file
// name and the environment. A child is fork+exec of the command line split
// by the rules the C runtime uses on Windows.
#include <layer_hooks.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>

#include "session/layer_internal.h"

namespace layer {

namespace {

struct ChildProcess {
    pid_t pid = 0;
    bool ended = false;
    DWORD exitCode = STILL_ACTIVE;
};

// Handles are small multiples of four, as kernel handles are, counted up so
// that a closed handle is not soon mistaken for a new one. The table lives
// outside the layer's state: a reset must not lose track of children.
std::map<uintptr_t, ChildProcess> processes;
uintptr_t nextHandle = 0x1000;
// Closed before their process ended: reaped whenever we look again, so that
// no zombie outlives its use.
std::vector<pid_t> unwatched;
std::function<bool(const std::string &, const std::vector<std::string> &)> startHook;

constexpr uintptr_t kPseudoCurrentProcess = (uintptr_t)-1;

DWORD ExitCodeOf(int status) {
    if (WIFEXITED(status)) return (DWORD)WEXITSTATUS(status);
    // Ended by a signal: Windows would say the process was terminated; the
    // code TerminateProcess gives is not known here, so the signal is told
    // apart from any exit status by the high bit.
    if (WIFSIGNALED(status)) return 0x80000000u | (DWORD)WTERMSIG(status);
    return 1;
}

void ReapUnwatched() {
    for (size_t i = 0; i < unwatched.size();) {
        int status;
        pid_t r = waitpid(unwatched[i], &status, WNOHANG);
        if (r == unwatched[i] || (r < 0 && errno == ECHILD)) {
            unwatched[i] = unwatched.back();
            unwatched.pop_back();
        } else {
            ++i;
        }
    }
}

ChildProcess *FindProcess(HANDLE handle) {
    auto it = processes.find((uintptr_t)handle);
    return it == processes.end() ? nullptr : &it->second;
}

// Collects the child's end if it has come; true once it has.
bool Poll(ChildProcess &child, bool block) {
    if (child.ended) return true;
    int status;
    for (;;) {
        pid_t r = waitpid(child.pid, &status, block ? 0 : WNOHANG);
        if (r == child.pid) {
            child.ended = true;
            child.exitCode = ExitCodeOf(status);
            return true;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            // Reaped by someone else: it has ended, how is lost.
            child.ended = true;
            child.exitCode = 1;
            return true;
        }
        return false;
    }
}

uint64_t MonotonicMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
}

// The file a program name stands for: as given when it holds a slash, else
// the first match on $PATH, as Windows finds a bare name on its search path.
std::string ResolveProgram(const std::string &name) {
    if (name.empty() || name.find('/') != std::string::npos) return name;
    const char *path = std::getenv("PATH");
    std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return std::string();
}

DWORD ErrorFromErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
    case ENOMEM:
    case EAGAIN: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_INVALID_PARAMETER;
    }
}

// In a child between fork and exec: every descriptor above the standard
// streams but `keep` closed, however high they go.
void CloseAllBut(int keep) {
#ifdef SYS_close_range
    if (keep > 3 && syscall(SYS_close_range, 3u, (unsigned)keep - 1, 0u) != 0) keep = -1;
    if (keep >= 3 && syscall(SYS_close_range, (unsigned)keep + 1, ~0u, 0u) == 0) return;
#endif
    long limit = sysconf(_SC_OPEN_MAX);
    if (limit < 0 || limit > 65536) limit = 65536;
    for (int fd = 3; fd < limit; ++fd)
        if (fd != keep) close(fd);
}

}  // namespace

void SetProcessStartHook(std::function<bool(const std::string &, const std::vector<std::string> &)> hook) {
    startHook = std::move(hook);
}

std::vector<std::string> SplitCommandLine(const char *line) {
    std::vector<std::string> args;
    if (!line) return args;
    const char *p = line;
    while (*p == ' ' || *p == '\t') ++p;
    if (!*p) return args;
    // The program name: quotes group, backslashes are plain characters.
    std::string name;
    bool quoted = false;
    for (; *p && (quoted || (*p != ' ' && *p != '\t')); ++p) {
        if (*p == '"')
            quoted = !quoted;
        else
            name += *p;
    }
    args.push_back(name);
    for (;;) {
        while (*p == ' ' || *p == '\t') ++p;
        if (!*p) break;
        std::string arg;
        quoted = false;
        while (*p && (quoted || (*p != ' ' && *p != '\t'))) {
            if (*p == '\\') {
                size_t backslashes = 0;
                while (*p == '\\') ++backslashes, ++p;
                if (*p == '"') {
                    // 2n backslashes and a quote: n backslashes, the quote
                    // toggles; 2n+1: n backslashes and a literal quote.
                    arg.append(backslashes / 2, '\\');
                    if (backslashes % 2) {
                        arg += '"';
                        ++p;
                    }
                } else {
                    arg.append(backslashes, '\\');
                }
                continue;
            }
            if (*p == '"') {
                // Inside quotes, a doubled quote is one literal quote.
                if (quoted && p[1] == '"') {
                    arg += '"';
                    p += 2;
                    continue;
                }
                quoted = !quoted;
                ++p;
                continue;
            }
            arg += *p++;
        }
        args.push_back(arg);
    }
    return args;
}

}  // namespace layer

using namespace layer;

extern "C" {

BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                           LPVOID lpEnvironment, LPCSTR lpCurrentDirectory, LPSTARTUPINFOA lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
    (void)lpProcessAttributes;
    (void)lpThreadAttributes;
    (void)bInheritHandles;  // the layer's handles are not files: nothing to inherit
    (void)dwCreationFlags;
    // A child gets our environment: one of its own is not needed here.
    if ((!lpApplicationName && !lpCommandLine) || !lpStartupInfo || !lpProcessInformation || lpEnvironment) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (TakeFault("CreateProcessA")) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    ReapUnwatched();
    std::vector<std::string> args = SplitCommandLine(lpCommandLine ? lpCommandLine : "");
    std::string program = lpApplicationName ? std::string(lpApplicationName) : (args.empty() ? "" : args[0]);
    if (args.empty()) args.push_back(program);
    if (startHook && !startHook(program, args)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::string file = ResolveProgram(program);
    if (file.empty() || access(file.c_str(), X_OK) != 0) {
        SetLastError(file.empty() ? ERROR_FILE_NOT_FOUND : ErrorFromErrno(errno));
        return FALSE;
    }
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The child tells through this pipe why exec failed; a pipe closed by a
    // successful exec says nothing.
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    pid_t pid = fork();
    if (pid < 0) {
        close(report[0]);
        close(report[1]);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec. The child starts
        // with nothing of ours open but the standard streams and the
        // report pipe, and with no signal held.
        if (lpCurrentDirectory && chdir(lpCurrentDirectory) != 0) {
            int e = errno;
            (void)!write(report[1], &e, sizeof e);
            _exit(127);
        }
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        signal(SIGCHLD, SIG_DFL);
        CloseAllBut(report[1]);
        execv(file.c_str(), argv.data());
        int e = errno;
        (void)!write(report[1], &e, sizeof e);
        _exit(127);
    }
    close(report[1]);
    int childError = 0;
    ssize_t got;
    do got = read(report[0], &childError, sizeof childError);
    while (got < 0 && errno == EINTR);
    close(report[0]);
    if (got == (ssize_t)sizeof childError) {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
        SetLastError(ErrorFromErrno(childError));
        return FALSE;
    }
    uintptr_t processHandle = nextHandle;
    uintptr_t threadHandle = nextHandle + 4;
    nextHandle += 8;
    ChildProcess child;
    child.pid = pid;
    processes[processHandle] = child;
    // The thread handle names the same child: waiting on it waits for the
    // process, which has only that thread.
    processes[threadHandle] = child;
    lpProcessInformation->hProcess = (HANDLE)processHandle;
    lpProcessInformation->hThread = (HANDLE)threadHandle;
    lpProcessInformation->dwProcessId = (DWORD)pid;
    lpProcessInformation->dwThreadId = (DWORD)pid;
    return TRUE;
}

// Keeps both handles of one child in step: the first to collect its end
// gives it to the other.
static void ShareEnd(const ChildProcess &from) {
    for (auto &entry : processes)
        if (entry.second.pid == from.pid && !entry.second.ended) {
            entry.second.ended = true;
            entry.second.exitCode = from.exitCode;
        }
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    ReapUnwatched();
    ChildProcess *child = FindProcess(hHandle);
    if (!child) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (Poll(*child, dwMilliseconds == INFINITE)) {
        ShareEnd(*child);
        return WAIT_OBJECT_0;
    }
    if (dwMilliseconds == 0) return WAIT_TIMEOUT;
    // No way to wait for one child with a time limit: look often. A panel
    // waits like this for a few hundred milliseconds at most.
    uint64_t until = MonotonicMs() + dwMilliseconds;
    for (;;) {
        uint64_t now = MonotonicMs();
        if (now >= until) return WAIT_TIMEOUT;
        struct timespec pause = {0, (long)std::min<uint64_t>(until - now, 10) * 1000000L};
        nanosleep(&pause, nullptr);
        if (Poll(*child, false)) {
            ShareEnd(*child);
            return WAIT_OBJECT_0;
        }
    }
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    ChildProcess *child = FindProcess(hProcess);
    if (!child) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!lpExitCode) {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    if (Poll(*child, false)) ShareEnd(*child);
    *lpExitCode = child->exitCode;
    return TRUE;
}

BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode) {
    if ((uintptr_t)hProcess == kPseudoCurrentProcess) ExitProcess(uExitCode);
    ChildProcess *child = FindProcess(hProcess);
    if (!child) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (Poll(*child, false)) {
        // Windows refuses to end a process that has already ended.
        ShareEnd(*child);
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    // The end is immediate, as on Windows: the child gets no say. Once it
    // is collected, it reports the code we were given.
    kill(child->pid, SIGKILL);
    Poll(*child, true);
    for (auto &entry : processes)
        if (entry.second.pid == child->pid) {
            entry.second.ended = true;
            entry.second.exitCode = uExitCode;
        }
    return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    auto it = processes.find((uintptr_t)hObject);
    if (it == processes.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ChildProcess child = it->second;
    processes.erase(it);
    bool otherHandle = false;
    for (auto &entry : processes)
        if (entry.second.pid == child.pid) otherHandle = true;
    // Closing does not end the child; the last handle leaves its end to be
    // collected in passing.
    if (!otherHandle && !child.ended && !Poll(child, false)) unwatched.push_back(child.pid);
    ReapUnwatched();
    return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void) { return (HANDLE)kPseudoCurrentProcess; }

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    if (hModule && hModule != GetModuleHandleA(nullptr)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    char path[PATH_MAX + 1];
    ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
    if (length <= 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    path[length] = '\0';
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if ((DWORD)length < nSize) {
        std::memcpy(lpFilename, path, (size_t)length + 1);
        return (DWORD)length;
    }
    // Too small: as much as fits, terminated, and the size reported back.
    std::memcpy(lpFilename, path, nSize - 1);
    lpFilename[nSize - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
}

DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
    const char *value = lpName && *lpName && !std::strchr(lpName, '=') ? std::getenv(lpName) : nullptr;
    if (!value) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    size_t length = std::strlen(value);
    if (!lpBuffer || length >= nSize) return (DWORD)length + 1;  // the size it needs, terminator included
    std::memcpy(lpBuffer, value, length + 1);
    return (DWORD)length;
}

}  // extern "C"
