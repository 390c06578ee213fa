// Kernel services: the tick count, Sleep, the last error, the command line,
// fake run-time libraries, process exit and a few string helpers.
#include <layer_hooks.h>

#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "session/layer_internal.h"

namespace layer {

namespace {
thread_local DWORD lastError = 0;
// What GetModuleHandleA(NULL) and WinMain's instance are: the usual image
// base of a 32-bit program, so it looks like a module handle in traces.
const HMODULE kProgramModule = (HMODULE)(uintptr_t)0x00400000;
}  // namespace

bool inSignalHandler = false;  // set by the fault handler; ExitProcess then skips stdio

void ResetLastError() { lastError = 0; }

uint64_t RealNow() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
}

uint64_t LayerNow() {
    State &s = S();
    return s.virtualClock ? s.virtualNow : RealNow();
}

static void MakeClockVirtual() {
    State &s = S();
    if (s.virtualClock) return;
    // Continue from the real time, so timers already running keep their phase.
    s.virtualNow = RealNow();
    s.virtualClock = true;
}

void AdvanceVirtual(uint64_t ms) {
    MakeClockVirtual();
    S().virtualNow += ms;
}

void SetTickCount(DWORD ticks) {
    MakeClockVirtual();
    State &s = S();
    // Moving the reading does not move time: timers keep their due times.
    s.tickOffset = (int64_t)ticks - (int64_t)s.virtualNow;
}

void AdvanceTicks(DWORD milliseconds) { AdvanceVirtual(milliseconds); }

bool ClockIsVirtual() { return S().virtualClock; }

void SetCommandLine(const std::string &commandLine) {
    State &s = S();
    s.commandLine = commandLine;
    s.commandLineBuffer.assign(commandLine.begin(), commandLine.end());
    s.commandLineBuffer.push_back('\0');
}

std::string BuildCommandLine(const std::vector<std::string> &arguments) {
    std::string line;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string &arg = arguments[i];
        if (i) line += ' ';
        bool quote = arg.empty() || arg.find_first_of(" \t") != std::string::npos;
        bool hasQuote = arg.find('"') != std::string::npos;
        if (!quote && !hasQuote) {
            line += arg;
            continue;
        }
        // Quotes inside an argument are escaped the way the C runtime reads
        // them back, so the line still splits into the same arguments.
        if (quote) line += '"';
        size_t backslashes = 0;
        for (char c : arg) {
            if (c == '\\') {
                ++backslashes;
                continue;
            }
            if (c == '"') {
                line.append(backslashes * 2 + 1, '\\');
            } else {
                line.append(backslashes, '\\');
            }
            backslashes = 0;
            line += c;
        }
        line.append(quote ? backslashes * 2 : backslashes, '\\');
        if (quote) line += '"';
    }
    return line;
}

const char *CommandLineTail(const char *commandLine) {
    if (!commandLine) return "";
    const char *p = commandLine;
    // The program name ends at the closing quote when it starts with one,
    // else at the first blank; the tail starts after the blanks that follow.
    if (*p == '"') {
        ++p;
        while (*p && *p != '"') ++p;
        if (*p == '"') ++p;
    } else {
        while (*p && *p != ' ' && *p != '\t') ++p;
    }
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

std::string LibraryKey(const std::string &name) {
    std::string base = name;
    size_t slash = base.find_last_of("\\/");
    if (slash != std::string::npos) base = base.substr(slash + 1);
    base = UpperCase(base);
    if (!base.empty() && base.back() == '.') {
        base.pop_back();  // a trailing dot means "no extension"
    } else if (base.find('.') == std::string::npos) {
        base += ".DLL";
    }
    return base;
}

static FakeLibrary *LibraryByName(const std::string &name) {
    std::string key = LibraryKey(name);
    for (FakeLibrary &lib : S().libraries)
        if (lib.name == key) return &lib;
    return nullptr;
}

static FakeLibrary *LoadedLibraryByHandle(HMODULE h) {
    if (!h) return nullptr;
    for (FakeLibrary &lib : S().libraries)
        if (lib.handle == h && lib.references > 0) return &lib;
    return nullptr;
}

void RegisterLibrary(const std::string &name, std::vector<FakeExport> exports, bool alreadyLoaded) {
    State &s = S();
    FakeLibrary *lib = LibraryByName(name);
    if (!lib) {
        s.libraries.push_back(FakeLibrary{});
        lib = &s.libraries.back();
        lib->name = LibraryKey(name);
        lib->handle = (HMODULE)s.nextLibraryHandle;
        s.nextLibraryHandle += 0x10000;
    }
    lib->exports.clear();
    for (FakeExport &e : exports) lib->exports.emplace_back(e.name, e.proc);
    if (alreadyLoaded && lib->references == 0) lib->references = 1;
}

int LibraryReferences(const std::string &name) {
    FakeLibrary *lib = LibraryByName(name);
    return lib ? lib->references : 0;
}

int LibraryLoadRequests(const std::string &name) {
    auto it = S().loadRequests.find(LibraryKey(name));
    return it == S().loadRequests.end() ? 0 : it->second;
}

}  // namespace layer

using namespace layer;

extern "C" {

DWORD WINAPI GetTickCount(void) { return (DWORD)((int64_t)LayerNow() + S().tickOffset); }

void WINAPI Sleep(DWORD dwMilliseconds) {
    if (S().virtualClock) {
        if (dwMilliseconds == 0xFFFFFFFF) {
            for (;;) pause();
        }
        AdvanceVirtual(dwMilliseconds);
        return;
    }
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    if (dwMilliseconds == 0xFFFFFFFF) {
        for (;;) pause();
    }
    struct timespec ts;
    ts.tv_sec = dwMilliseconds / 1000;
    ts.tv_nsec = (long)(dwMilliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0) {
    }
}

DWORD WINAPI GetLastError(void) { return lastError; }
void WINAPI SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }

LPSTR WINAPI GetCommandLineA(void) {
    State &s = S();
    if (s.commandLineBuffer.empty()) s.commandLineBuffer.push_back('\0');
    return s.commandLineBuffer.data();
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    if (!lpModuleName) return kProgramModule;
    FakeLibrary *lib = LibraryByName(lpModuleName);
    if (lib && lib->references > 0) return lib->handle;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    if (!lpLibFileName || !*lpLibFileName) {
        SetLastError(lpLibFileName ? ERROR_MOD_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    S().loadRequests[LibraryKey(lpLibFileName)]++;
    FakeLibrary *lib = LibraryByName(lpLibFileName);
    if (!lib) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    lib->references++;
    return lib->handle;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (hLibModule == kProgramModule) return TRUE;
    FakeLibrary *lib = LoadedLibraryByHandle(hLibModule);
    if (!lib) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    lib->references--;
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (!hModule || hModule == kProgramModule) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    FakeLibrary *lib = LoadedLibraryByHandle(hModule);
    if (!lib) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (!lpProcName) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    if (IS_INTRESOURCE(lpProcName)) {
        // Fake libraries number their exports from 1 in the order given.
        size_t ordinal = (size_t)(uintptr_t)lpProcName;
        if (ordinal >= 1 && ordinal <= lib->exports.size()) return lib->exports[ordinal - 1].second;
    } else {
        // Export names are case-sensitive, unlike module names.
        for (auto &e : lib->exports)
            if (e.first == lpProcName) return e.second;
    }
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

void WINAPI ExitProcess(UINT uExitCode) {
    if (!inSignalHandler) {
        std::fflush(nullptr);
    }
    _exit((int)uExitCode);
}

int WINAPI lstrlenA(LPCSTR lpString) {
    if (!lpString) return 0;
    return (int)std::strlen(lpString);
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) {
    // As on Windows, a null string sorts before any other.
    if (!lpString1 || !lpString2) {
        if (lpString1 == lpString2) return 0;
        return lpString1 ? 1 : -1;
    }
    const unsigned char *a = (const unsigned char *)lpString1;
    const unsigned char *b = (const unsigned char *)lpString2;
    for (;; ++a, ++b) {
        int ca = std::tolower(*a), cb = std::tolower(*b);
        if (ca != cb) return ca < cb ? -1 : 1;
        if (!ca) return 0;
    }
}

}  // extern "C"
