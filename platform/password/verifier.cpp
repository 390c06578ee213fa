// The verifier the program calls before a protected full-screen run may
// close. It draws no prompt of its own: the session's locker asks for the
// password. It only makes sure that locker is up before the saver goes.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include <layer_hooks.h>

#include "password/password.h"

namespace password {

namespace {

// While the lock comes up the saver keeps drawing, as it would behind a
// verifier's dialog on Windows; its input asks for nothing meanwhile.
bool KeepSaverGoing(HWND window) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // The run's own loop must see it too.
            PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return IsWindow(window) != FALSE;
}

}  // namespace

// Entries are handed out as FARPROC, as GetProcAddress hands them out;
// through void(*)() the compiler takes it as meant.
template <typename F>
FARPROC AsEntry(F *entry) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(entry));
}

void RegisterLibrary() {
    layer::RegisterLibrary("PASSWORD.CPL",
                           {{"VerifyScreenSavePwd", AsEntry(&VerifyScreenSavePwd)},
                            {"SessionLockOffered", AsEntry(&SessionLockOffered)}});
}

}  // namespace password

using namespace password;

extern "C" BOOL WINAPI VerifyScreenSavePwd(HWND window) {
    LockResult result = LockSession(kLockTimeoutMs, [window] { return KeepSaverGoing(window); });
    if (result.outcome == LockOutcome::Locked) return TRUE;
    if (result.outcome == LockOutcome::Abandoned) return FALSE;
    std::string line = "the saver stays: " + result.reason;
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, line.c_str());
    line[0] = 'T';
    ShowLockNotice(window, line);
    return FALSE;
}

extern "C" BOOL WINAPI SessionLockOffered(LPSTR reason, DWORD size) {
    std::string why;
    bool offered = LockOffered(&why);
    if (reason && size) {
        size_t n = std::min<size_t>(why.size(), size - 1);
        std::memcpy(reason, why.data(), n);
        reason[n] = 0;
    }
    return offered ? TRUE : FALSE;
}
