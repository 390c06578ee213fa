#include "password/password.h"

extern "C" BOOL WINAPI VerifyScreenSavePwd(HWND) { return FALSE; }
extern "C" BOOL WINAPI SessionLockOffered(LPSTR reason, DWORD size) {
    if (reason && size) reason[0] = 0;
    return FALSE;
}
namespace password {
void RegisterLibrary() {}
}  // namespace password
