// The screen-saver host: entry and launch modes, the saver window with its
// message loop, closing on input and the system's password verification.
#ifndef VANTREL_HOST_H
#define VANTREL_HOST_H

#include <windows.h>

// Entry points of optional system libraries, looked up at run time.
typedef void *HostInputContext;
typedef BOOL(WINAPI *VerifyScreenSavePwdProc)(HWND window);
typedef HostInputContext(WINAPI *ImmAssociateContextProc)(HWND window, HostInputContext context);
typedef DWORD(WINAPI *PwdChangePasswordProc)(LPCSTR kind, HWND parent, DWORD reserved1, DWORD reserved2);

// Private message that makes the saver window run the password verifier.
enum { VerifyPasswordMessage = WM_APP };
// A mouse movement must exceed this Manhattan distance to count as input.
enum { MouseWakeThreshold = 4 };
// A close request this soon after the last verification is refused unasked.
enum { VerifyIntervalMs = 200 };
enum : DWORD { NoVerificationYet = 0xFFFFFFFF };

struct HostStateRecord {
    HINSTANCE instance = nullptr;
    HWND window = nullptr;
    LONG previewMode = 0;
    LONG closing = 0;
    LONG checkingPassword = 0;
    HMODULE verifierLibrary = nullptr;
    VerifyScreenSavePwdProc verifierProc = nullptr;
    HMODULE imeLibrary = nullptr;
    ImmAssociateContextProc imeAssociateProc = nullptr;
    HostInputContext savedImeContext = nullptr;
    DWORD lastVerifyTick = NoVerificationYet;
    POINT savedCursor = {0, 0};
};
extern HostStateRecord HostState;

// The black windows over the monitors the saver does not draw on, two each.
enum { MaxMonitorCovers = 32 };
struct MonitorCoverRecord {
    HWND windows[MaxMonitorCovers] = {};
    int count = 0;
};
extern MonitorCoverRecord MonitorCovers;

// launch.cpp
int SaverMain(HINSTANCE instance, HINSTANCE previousInstance, LPCSTR commandLine, int showCommand);
DWORD ParseDecimal(LPCSTR text);
int ShowConfigDialog(HWND parent);
void ChangeSaverPassword(HWND parent);

// startup.cpp
LPCSTR SaverCommandTail(LPCSTR fullCommandLine);

// saver_window.cpp
int RunSaverWindow(HWND parent);
LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// monitor_covers.cpp
void CoverOtherMonitors(HWND saverWindow);
void UncoverOtherMonitors(void);

// close_and_password.cpp
LRESULT HostDefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL VerifyBeforeClose(HWND window);
void LoadPasswordVerifier(void);
void UnloadPasswordVerifier(void);
BOOL SetSaverRunning(BOOL flag);

// GetProcAddress hands back a generic entry; this gives it its real type.
template <typename Proc>
inline Proc EntryAs(FARPROC entry)
{
    return reinterpret_cast<Proc>(reinterpret_cast<void *>(entry));
}

#endif
