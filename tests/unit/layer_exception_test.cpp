// Hardware faults reach the program's top-level exception filter, and the
// process ends as the filter decides.
#include "layer_fixture.h"

#include <signal.h>
#include <sys/wait.h>

#include <cstdio>

class LayerExceptionDeathTest : public LayerTest {};

namespace {

volatile int *volatile nowhere = nullptr;
volatile int zero = 0;

LONG WINAPI ExitWithFortyTwo(EXCEPTION_POINTERS *info) {
    const EXCEPTION_RECORD *r = info->ExceptionRecord;
    bool ok = r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && r->NumberParameters == 2 &&
              r->ExceptionInformation[0] == 1 && r->ExceptionInformation[1] == 0;
    ExitProcess(ok ? 42 : 1);
    return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI KeepSearching(EXCEPTION_POINTERS *) { return EXCEPTION_CONTINUE_SEARCH; }

LONG WINAPI AskTheSystemThenExit(EXCEPTION_POINTERS *info) {
    // Still installed while it asks: the system must not call it again.
    LONG verdict = UnhandledExceptionFilter(info);
    ExitProcess(verdict == EXCEPTION_EXECUTE_HANDLER ? 7 : 1);
    return verdict;
}

LONG WINAPI ReportDivision(EXCEPTION_POINTERS *info) {
    ExitProcess(info->ExceptionRecord->ExceptionCode == EXCEPTION_INT_DIVIDE_BY_ZERO ? 11 : 1);
    return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI ExitNine(EXCEPTION_POINTERS *) {
    ExitProcess(9);
    return EXCEPTION_CONTINUE_SEARCH;
}

volatile bool keepGoing = true;

int Recurse(int depth) {
    volatile char pad[512];
    pad[0] = (char)depth;
    if (!keepGoing) return pad[0];
    return Recurse(depth + 1) + pad[0];
}

}  // namespace

TEST_F(LayerExceptionDeathTest, FaultReachesTheFilterWhichChoosesTheExitCode) {
    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(ExitWithFortyTwo);
            *nowhere = 1;
        },
        ::testing::ExitedWithCode(42), "");
}

// The usual death is the signal's, or the sanitizer's report where one runs.
static bool DiedOfTheFault(int status) {
#ifdef VANTREL_SANITIZED
    return (WIFEXITED(status) && WEXITSTATUS(status) != 0) || (WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV);
#else
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV;
#endif
}

TEST_F(LayerExceptionDeathTest, WithoutAFilterOrWhenItPassesTheFaultKillsAsUsual) {
    EXPECT_EXIT({ *nowhere = 1; }, DiedOfTheFault, "");
    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(KeepSearching);
            *nowhere = 1;
        },
        DiedOfTheFault, "");
}

TEST_F(LayerExceptionDeathTest, SystemVerdictFromInsideTheFilterReportsOnceWithoutRecursion) {
    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(AskTheSystemThenExit);
            *nowhere = 1;
        },
        ::testing::ExitedWithCode(7), "unhandled exception 0xC0000005 \\(access violation\\).*writing 0x0");
}

TEST_F(LayerExceptionDeathTest, DivisionByZeroAndStackOverflowAreCaughtToo) {
#ifdef VANTREL_SANITIZED
    GTEST_SKIP() << "the sanitizers stop these faults before any signal";
#endif
    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(ReportDivision);
            std::printf("%d\n", 10 / zero);
        },
        ::testing::ExitedWithCode(11), "");
    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(ExitNine);
            std::printf("%d\n", Recurse(0));
        },
        ::testing::ExitedWithCode(9), "");
}

TEST_F(LayerExceptionDeathTest, SettingAFilterReturnsThePreviousOne) {
    EXPECT_EQ(nullptr, SetUnhandledExceptionFilter(KeepSearching));
    EXPECT_EQ(KeepSearching, SetUnhandledExceptionFilter(ExitNine));
    EXPECT_EQ(ExitNine, SetUnhandledExceptionFilter(nullptr));
}
