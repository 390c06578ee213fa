// The program's entry: picks the launch mode from the command line and runs
// it inside a guard that clears the system's "protected saver running" state
// if anything faults.
#include "host/host.h"

#include "settings/settings.h"

static LPTOP_LEVEL_EXCEPTION_FILTER previousExceptionFilter;

// The system decides whether a fault is reported and whether we get to clean
// up. Our filter steps aside before asking, or the system would ask us again.
static LONG WINAPI SaverFaultFilter(EXCEPTION_POINTERS *exception)
{
    SetUnhandledExceptionFilter(previousExceptionFilter);
    LONG verdict = UnhandledExceptionFilter(exception);
    if (verdict == EXCEPTION_EXECUTE_HANDLER) {
        // A password-protected saver must never be left marked as running
        // once this process is gone; the process ends right here.
        ExitProcess(static_cast<UINT>(SetSaverRunning(FALSE)));
    }
    return verdict;
}

DWORD ParseDecimal(LPCSTR text)
{
    DWORD value = 0;
    if (!text)
        return 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        value = value * 10u + static_cast<DWORD>(*text - '0');
    return value;
}

// The window number that follows a mode letter: blanks first, nothing else.
static HWND WindowNumberAfter(const char *letter)
{
    const char *number = letter + 1;
    while (*number == ' ')
        ++number;
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(ParseDecimal(number)));
}

int ShowConfigDialog(HWND parent)
{
    if (!RegisterConfigClasses(HostState.instance))
        return 0;
    return static_cast<int>(DialogBoxParamA(HostState.instance, MAKEINTRESOURCEA(ConfigDialogId), parent,
                                            ConfigDialogProc, 0));
}

void ChangeSaverPassword(HWND parent)
{
    HMODULE library = LoadLibraryA("MPR.DLL");
    if (!library)
        return;
    PwdChangePasswordProc change = EntryAs<PwdChangePasswordProc>(GetProcAddress(library, "PwdChangePasswordA"));
    if (change)
        change("SCRSAVE", parent, 0, 0);
    FreeLibrary(library);
}

static int RunLaunchMode(LPCSTR commandLine)
{
    const char *scan = commandLine ? commandLine : "";
    while (*scan == ' ' || *scan == '-' || *scan == '/')
        ++scan;

    switch (*scan) {
    case '\0':
        return ShowConfigDialog(nullptr);
    case 'C':
    case 'c':
        return ShowConfigDialog(GetForegroundWindow());
    case 'S':
    case 's':
        return RunSaverWindow(nullptr);
    case 'P':
    case 'p':
    case 'L':
    case 'l': {
        HWND parent = WindowNumberAfter(scan);
        if (!parent || !IsWindow(parent))
            return -1;
        return RunSaverWindow(parent);
    }
    case 'A':
    case 'a': {
        HWND parent = WindowNumberAfter(scan);
        if (!parent || !IsWindow(parent))
            parent = GetForegroundWindow();
        ChangeSaverPassword(parent);
        return 0;
    }
    default:
        return -1;
    }
}

int SaverMain(HINSTANCE instance, HINSTANCE, LPCSTR commandLine, int)
{
    HostState.instance = instance;
    previousExceptionFilter = SetUnhandledExceptionFilter(SaverFaultFilter);
    int result = RunLaunchMode(commandLine);
    SetUnhandledExceptionFilter(previousExceptionFilter);
    return result;
}
