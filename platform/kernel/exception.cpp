// Structured exceptions, as far as a program without __try can see them: a
// process-wide top-level filter that hears about hardware faults. Faults
// arrive as signals; the handler runs on its own stack so that a stack
// overflow is reported too.
#include <windows.h>

#include <signal.h>
#include <string.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace layer {

extern bool inSignalHandler;

namespace {

std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> topFilter{nullptr};
// The filter that is running now; UnhandledExceptionFilter does not call it
// again, which would recurse until the stack is gone.
std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> runningFilter{nullptr};
bool handlersInstalled = false;
const int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
struct sigaction previousActions[4];

struct CodeName {
    DWORD code;
    const char *name;
};
const CodeName kNames[] = {
    {EXCEPTION_ACCESS_VIOLATION, "access violation"},
    {EXCEPTION_IN_PAGE_ERROR, "in-page error"},
    {EXCEPTION_ILLEGAL_INSTRUCTION, "illegal instruction"},
    {EXCEPTION_PRIV_INSTRUCTION, "privileged instruction"},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, "integer division by zero"},
    {EXCEPTION_INT_OVERFLOW, "integer overflow"},
    {EXCEPTION_FLT_DIVIDE_BY_ZERO, "floating-point division by zero"},
    {EXCEPTION_FLT_OVERFLOW, "floating-point overflow"},
    {EXCEPTION_FLT_UNDERFLOW, "floating-point underflow"},
    {EXCEPTION_FLT_INEXACT_RESULT, "inexact floating-point result"},
    {EXCEPTION_FLT_INVALID_OPERATION, "invalid floating-point operation"},
};

DWORD CodeForSignal(int sig, int code) {
    switch (sig) {
    case SIGSEGV:
        return EXCEPTION_ACCESS_VIOLATION;
    case SIGBUS:
        // A mapping whose backing store failed is what Windows calls an
        // in-page error; anything else is a plain access violation.
        return code == BUS_ADRERR ? EXCEPTION_IN_PAGE_ERROR : EXCEPTION_ACCESS_VIOLATION;
    case SIGFPE:
        switch (code) {
        case FPE_INTDIV: return EXCEPTION_INT_DIVIDE_BY_ZERO;
        case FPE_INTOVF: return EXCEPTION_INT_OVERFLOW;
        case FPE_FLTDIV: return EXCEPTION_FLT_DIVIDE_BY_ZERO;
        case FPE_FLTOVF: return EXCEPTION_FLT_OVERFLOW;
        case FPE_FLTUND: return EXCEPTION_FLT_UNDERFLOW;
        case FPE_FLTRES: return EXCEPTION_FLT_INEXACT_RESULT;
        default: return EXCEPTION_FLT_INVALID_OPERATION;
        }
    case SIGILL:
        return (code == ILL_PRVOPC || code == ILL_PRVREG) ? EXCEPTION_PRIV_INSTRUCTION
                                                          : EXCEPTION_ILLEGAL_INSTRUCTION;
    }
    return EXCEPTION_ACCESS_VIOLATION;
}

// Async-signal-safe output: no stdio in here.
struct Line {
    char text[256];
    size_t length = 0;
    void Add(const char *s) {
        while (*s && length < sizeof text - 1) text[length++] = *s++;
    }
    void Hex(uintptr_t v, int minDigits) {
        char digits[2 * sizeof v];
        int n = 0;
        do {
            digits[n++] = "0123456789ABCDEF"[v & 15];
            v >>= 4;
        } while (v && n < (int)sizeof digits);
        while (n < minDigits && n < (int)sizeof digits) digits[n++] = '0';
        Add("0x");
        while (n > 0 && length < sizeof text - 1) text[length++] = digits[--n];
    }
};

void Report(const EXCEPTION_RECORD *rec) {
    Line line;
    line.Add("vantrel: unhandled exception ");
    line.Hex(rec->ExceptionCode, 8);
    for (const CodeName &n : kNames) {
        if (n.code == rec->ExceptionCode) {
            line.Add(" (");
            line.Add(n.name);
            line.Add(")");
        }
    }
    line.Add(" at ");
    line.Hex((uintptr_t)rec->ExceptionAddress, 1);
    if (rec->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && rec->NumberParameters >= 2) {
        ULONG_PTR kind = rec->ExceptionInformation[0];
        line.Add(kind == 1 ? ", writing " : kind == 8 ? ", executing " : ", reading ");
        line.Hex(rec->ExceptionInformation[1], 1);
    }
    line.Add("\n");
    ssize_t ignored = write(2, line.text, line.length);
    (void)ignored;
}

void PassOn(int sig) {
    // Let the fault end the process as it would have without us: the
    // disposition that was there before, then the same signal again.
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
        if (kSignals[i] == sig) sigaction(sig, &previousActions[i], nullptr);
    raise(sig);
}

void FaultHandler(int sig, siginfo_t *info, void *context) {
    EXCEPTION_RECORD record;
    memset(&record, 0, sizeof record);
    record.ExceptionCode = CodeForSignal(sig, info ? info->si_code : 0);
    record.ExceptionAddress = info ? info->si_addr : nullptr;
    ucontext_t *uc = (ucontext_t *)context;
    (void)uc;
#if defined(__x86_64__)
    if (uc) record.ExceptionAddress = (PVOID)uc->uc_mcontext.gregs[REG_RIP];
#elif defined(__i386__)
    if (uc) record.ExceptionAddress = (PVOID)uc->uc_mcontext.gregs[REG_EIP];
#endif
    if (record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION || record.ExceptionCode == EXCEPTION_IN_PAGE_ERROR) {
        ULONG_PTR kind = 0;
#if defined(__x86_64__) || defined(__i386__)
        // Page-fault error code: bit 1 is a write, bit 4 an instruction fetch.
        if (uc) {
            unsigned long err = (unsigned long)uc->uc_mcontext.gregs[REG_ERR];
            kind = (err & 16) ? 8 : (err & 2) ? 1 : 0;
        }
#endif
        record.NumberParameters = 2;
        record.ExceptionInformation[0] = kind;
        record.ExceptionInformation[1] = (ULONG_PTR)(info ? info->si_addr : nullptr);
    }
    EXCEPTION_POINTERS pointers = {&record, (PCONTEXT)context};

    LPTOP_LEVEL_EXCEPTION_FILTER filter = topFilter.load();
    if (!filter) {
        PassOn(sig);
        return;
    }
    inSignalHandler = true;
    runningFilter.store(filter);
    LONG verdict = filter(&pointers);
    runningFilter.store(nullptr);
    inSignalHandler = false;
    if (verdict == EXCEPTION_CONTINUE_EXECUTION) return;  // the filter repaired the cause
    // Whether the filter asked for its handler or for the search to go on,
    // nothing is left to run it: the process ends by the fault, as it would
    // have without a filter.
    PassOn(sig);
}

void InstallHandlers() {
    if (handlersInstalled) return;
    handlersInstalled = true;
    static char altStack[64 * 1024];
    stack_t ss;
    memset(&ss, 0, sizeof ss);
    ss.ss_sp = altStack;
    ss.ss_size = sizeof altStack;
    sigaltstack(&ss, nullptr);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = FaultHandler;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
        sigaction(kSignals[i], &sa, &previousActions[i]);
}

}  // namespace

void ResetExceptionState() {
    topFilter.store(nullptr);
    runningFilter.store(nullptr);
}

}  // namespace layer

using namespace layer;

extern "C" {

LPTOP_LEVEL_EXCEPTION_FILTER WINAPI SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER lpTopLevelExceptionFilter) {
    if (lpTopLevelExceptionFilter) InstallHandlers();
    return topFilter.exchange(lpTopLevelExceptionFilter);
}

LONG WINAPI UnhandledExceptionFilter(struct _EXCEPTION_POINTERS *ExceptionInfo) {
    // The system asks the top-level filter first, unless that filter is the
    // one asking.
    LPTOP_LEVEL_EXCEPTION_FILTER filter = topFilter.load();
    if (filter && filter != runningFilter.load()) {
        LPTOP_LEVEL_EXCEPTION_FILTER outer = runningFilter.exchange(filter);
        LONG verdict = filter(ExceptionInfo);
        runningFilter.store(outer);
        if (verdict != EXCEPTION_CONTINUE_SEARCH) return verdict;
    }
    if (ExceptionInfo && ExceptionInfo->ExceptionRecord) Report(ExceptionInfo->ExceptionRecord);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // extern "C"
