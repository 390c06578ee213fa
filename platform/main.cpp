// The process entry on Linux: set the layer up, give the program the
// command line a Windows process would have, and run WinMain.
#include <windows.h>

#include <layer_hooks.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "layer_internal.h"

int main(int argc, char **argv) {
    layer::EnsureStarted();
    // Settings live in a file of the user's; without HOME the password
    // database still knows where home is.
    const char *home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd *user = getpwuid(getuid());
        home = user ? user->pw_dir : nullptr;
    }
    layer::UseRegistryFile(
        layer::RegistryFilePath(std::getenv("VANTREL_REGISTRY"), std::getenv("XDG_CONFIG_HOME"), home));
    std::vector<std::string> arguments(argv, argv + argc);
    layer::SetCommandLine(layer::BuildCommandLine(arguments));
    LPSTR line = GetCommandLineA();
    LPSTR tail = line + (layer::CommandLineTail(line) - line);
    return WinMain(GetModuleHandleA(nullptr), nullptr, tail, SW_SHOWNORMAL);
}
