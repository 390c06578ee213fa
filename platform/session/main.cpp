// The process entry on Linux: set the layer up, give the program the
// command line a Windows process would have, and run WinMain.
#include <windows.h>

#include <layer_hooks.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "session/layer_internal.h"
#include "session/module_mode.h"
#include "session/termination.h"

int main(int argc, char **argv) {
    // Before anything can be drawn: a module's driver may end us at once.
    layer::InstallTerminationHandlers();
    layer::EnsureStarted();
    const char *backend = std::getenv("VANTREL_BACKEND");
    if (!layer::S().backendNote.empty() && !(backend && std::strcmp(backend, "headless") == 0)) {
        // Running on the invisible desktop is what tests ask for by name; a
        // user who expected a screen is told why there is none.
        std::fprintf(stderr, "%s: %s; running on an invisible desktop\n", argc > 0 ? argv[0] : "vantrel-saver",
                     layer::S().backendNote.c_str());
    }
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
    arguments = layer::ModuleModeArguments(arguments, std::getenv("XSCREENSAVER_WINDOW"),
                                           (uintptr_t)GetDesktopWindow());
    layer::SetCommandLine(layer::BuildCommandLine(arguments));
    LPSTR line = GetCommandLineA();
    LPSTR tail = line + (layer::CommandLineTail(line) - line);
    return WinMain(GetModuleHandleA(nullptr), nullptr, tail, SW_SHOWNORMAL);
}
