// "PASSWORD.CPL" on Linux. The program asks the system's verifier before a
// full-screen run may close; here the session's own locker holds the
// password, and logind is how we ask for it. The verifier approves a close
// only once the session reports itself locked, so the saver never gives way
// to an open desktop.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

// The library's exports, as the layer's table hands them out.
extern "C" {
// Approves the close of `window` (nonzero) only when the session is locked.
BOOL WINAPI VerifyScreenSavePwd(HWND window);
// Ours: whether a lock can be had here. When not, `reason` (if given)
// receives one line saying why, cut to `size` bytes with its terminator.
BOOL WINAPI SessionLockOffered(LPSTR reason, DWORD size);
}
typedef BOOL(WINAPI *SessionLockOfferedProc)(LPSTR reason, DWORD size);

namespace password {

// Puts "PASSWORD.CPL" with both exports into the layer's library table.
void RegisterLibrary();

// How long a lock may take to come up before the close is refused.
constexpr int kLockTimeoutMs = 5000;

enum class LockOutcome {
    Locked,     // the session reports itself locked
    NoBus,      // no system bus, so no logind
    NoSession,  // logind knows no session of ours
    Refused,    // logind answered the request with an error
    TimedOut,   // asked, but no locked state within the time
    Abandoned,  // `keepWaiting` said stop: the run is ending
};

struct LockResult {
    LockOutcome outcome = LockOutcome::NoBus;
    std::string reason;  // one line for the user; empty when Locked
};

// Asks logind to lock the caller's session and waits, at most `timeoutMs`,
// until its LockedHint says so. `keepWaiting` is called between short waits
// (the verifier keeps the saver's messages flowing there) and ends the wait
// when it returns false.
LockResult LockSession(int timeoutMs, const std::function<bool()> &keepWaiting);

// Whether a lock can be had here: logind answers, we have a session, and
// the desktop's locker reports the lock (LockedHint). `reason` gets why not.
bool LockOffered(std::string *reason);

// One line on the saver's window saying why it stays; it goes by itself
// after a while, or when the next line replaces it.
void ShowLockNotice(HWND saver, const std::string &line);
// The line's window while it shows, else null.
HWND LockNoticeWindow();

}  // namespace password
