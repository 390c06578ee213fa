// Starting a program and waiting for it, as a settings panel starts the
// saver: the command line as the child's C runtime splits it, its exit code,
// termination, and what each call answers a handle that is no longer open.
// The child is this program again, in one of the modes RunAsChild knows.
#include "conformance.h"

#include <cstdlib>
#include <cstring>
#include <string>

const char *const ChildArguments[] = {"two words", "a\"b", "", "back\\slash", "end\\"};
const int ChildArgumentCount = 5;

bool RunAsChild(int argc, char **argv, int *status) {
    if (argc < 2) return false;
    if (std::strcmp(argv[1], "--child-exit") == 0 && argc == 3) {
        *status = std::atoi(argv[2]);
        return true;
    }
    if (std::strcmp(argv[1], "--child-sleep") == 0) {
        Sleep(60000);
        *status = 0;
        return true;
    }
    if (std::strcmp(argv[1], "--child-check-args") == 0) {
        *status = 0;
        if (argc - 2 != ChildArgumentCount) {
            *status = 9;
            return true;
        }
        for (int i = 0; i < ChildArgumentCount; ++i)
            if (std::strcmp(argv[i + 2], ChildArguments[i]) != 0) {
                *status = 10 + i;
                break;
            }
        return true;
    }
    return false;
}

namespace {

class Processes : public Win32Test {
protected:
    // Starts this program with `arguments`; the process is left in `info`.
    bool Start(const std::string &arguments, PROCESS_INFORMATION *info) {
        char self[1024];
        DWORD length = GetModuleFileNameA(NULL, self, sizeof self);
        if (length == 0 || length >= sizeof self) return false;
        std::string line = "\"" + std::string(self) + "\" " + arguments;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        return CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, info) != FALSE;
    }
    static DWORD ExitCodeAfterEnd(PROCESS_INFORMATION *info) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(info->hProcess, 30000));
        DWORD code = 12345;
        EXPECT_TRUE(GetExitCodeProcess(info->hProcess, &code));
        EXPECT_TRUE(CloseHandle(info->hThread));
        EXPECT_TRUE(CloseHandle(info->hProcess));
        return code;
    }
};

TEST_F(Processes, AChildsExitCodeAndArgumentsComeThrough) {
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(Start("--child-exit 7", &info));
    EXPECT_NE(0u, info.dwProcessId);
    EXPECT_EQ(7u, ExitCodeAfterEnd(&info));

    // Quotes group, a backslash escapes a quote, "" is an empty argument,
    // and a backslash doubled before a closing quote is one backslash.
    ASSERT_TRUE(Start("--child-check-args \"two words\" a\\\"b \"\" back\\slash \"end\\\\\"", &info));
    EXPECT_EQ(0u, ExitCodeAfterEnd(&info));
}

TEST_F(Processes, ARunningChildIsStillActiveUntilTerminated) {
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(Start("--child-sleep", &info));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(info.hProcess, 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(info.hProcess, 50));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ((DWORD)STILL_ACTIVE, code);
    EXPECT_TRUE(TerminateProcess(info.hProcess, 42));
    EXPECT_EQ(42u, ExitCodeAfterEnd(&info));
}

TEST_F(Processes, ClosedHandlesAndMissingProgramsAreRefused) {
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(Start("--child-exit 0", &info));
    ExitCodeAfterEnd(&info);
    HANDLE closed = info.hProcess;
    SetLastError(0);
    EXPECT_EQ(WAIT_FAILED, WaitForSingleObject(closed, 0));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    DWORD code = 0;
    SetLastError(0);
    EXPECT_FALSE(GetExitCodeProcess(closed, &code));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    SetLastError(0);
    EXPECT_FALSE(TerminateProcess(closed, 1));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(closed));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());

    char line[] = "vantrel-no-such-program-here.exe /s";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    SetLastError(0);
    EXPECT_FALSE(CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST_F(Processes, ModuleFileNameAndEnvironmentReportSizes) {
    char full[1024];
    DWORD length = GetModuleFileNameA(NULL, full, sizeof full);
    ASSERT_GT(length, 4u);
    EXPECT_EQ(length, (DWORD)lstrlenA(full));
    // Too small: truncated, the size given back. (Windows since Vista and
    // the layer end the text within the buffer; Wine, as Windows XP did,
    // fills it to the last byte, so only the start is compared.)
    char small[4];
    SetLastError(0);
    EXPECT_EQ(4u, GetModuleFileNameA(NULL, small, sizeof small));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(std::string(full, 3), std::string(small, 3));

    // PATH is set on both systems: asked with no room, the size it needs.
    DWORD needed = GetEnvironmentVariableA("PATH", NULL, 0);
    ASSERT_GT(needed, 1u);
    std::string value(needed, '\0');
    EXPECT_EQ(needed - 1, GetEnvironmentVariableA("PATH", &value[0], needed));
    SetLastError(0);
    EXPECT_EQ(0u, GetEnvironmentVariableA("VANTREL_NO_SUCH_VARIABLE", &value[0], needed));
    EXPECT_EQ((DWORD)ERROR_ENVVAR_NOT_FOUND, GetLastError());
}

}  // namespace
