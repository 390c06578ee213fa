#include "password/password.h"

namespace password {
void ShowLockNotice(HWND, const std::string &) {}
}  // namespace password
