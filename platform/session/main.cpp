// The process entry on Linux: set the layer up, give the program the
// command line a Windows process would have, and run WinMain.
#include <windows.h>

#include <layer_hooks.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "idle/watcher.h"
#include "panel/panel.h"
#include "password/password.h"
#include "session/layer_internal.h"
#include "session/backend_choice.h"
#include "session/module_mode.h"
#include "session/monitor_run.h"
#include "session/termination.h"

int main(int argc, char **argv) {
    // Before anything can be drawn: a module's driver may end us at once.
    layer::InstallTerminationHandlers();
    std::vector<std::string> arguments(argv, argv + argc);
    // The system's side, which Windows does for every saver: the watcher that
    // starts it on idle, and the settings panel.
    if (argc > 1 && std::strcmp(argv[1], "--watch") == 0) return idle::RunWatcher(arguments);
    const bool panel = argc > 1 && std::strcmp(argv[1], "--panel") == 0;
    if (panel) arguments.erase(arguments.begin() + 1);
    // Named as the layer names us when it cannot open the display.
    const std::string program = program_invocation_short_name;
    // Options are judged before any display is opened: a bad one draws
    // nothing and --help needs no screen.
    layer::ModuleOptions options = layer::ParseModuleOptions(arguments);
    if (!options.error.empty()) {
        std::fprintf(stderr, "%s: %s\n", program.c_str(), options.error.c_str());
        return 255;  // what the program answers any command line it cannot use with
    }
    if (options.help) {
        std::fputs(layer::HelpText(program).c_str(), stdout);
        return 0;
    }
    // A preview or a module run names an X window, which only an X server
    // can show us in; the rest goes where the session is.
    // The panel's live preview draws in an X window of the panel's, so the
    // panel goes to the X server wherever there is one (XWayland too);
    // without one it runs where the session is and shows no preview.
    const char *xDisplay = std::getenv("DISPLAY");
    const bool panelOnX = panel && xDisplay && *xDisplay;
    layer::StartForRun(panelOnX || layer::NamesXWindow(options.rest, std::getenv("XSCREENSAVER_WINDOW")));
    // Settings live in a file of the user's; without HOME the password
    // database still knows where home is.
    const char *home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd *user = getpwuid(getuid());
        home = user ? user->pw_dir : nullptr;
    }
    layer::UseRegistryFile(
        layer::RegistryFilePath(std::getenv("VANTREL_REGISTRY"), std::getenv("XDG_CONFIG_HOME"), home));
    layer::ApplyModuleOptions(options);
    const char *driverWindow = std::getenv("XSCREENSAVER_WINDOW");
    // The system's password verifier is ours to give, except to a module:
    // XScreenSaver locks the screen by itself.
    if (!driverWindow || !*driverWindow) password::RegisterLibrary();
    uintptr_t root = (uintptr_t)GetDesktopWindow();
    // Judged before the program runs, while no window of ours can be the one named.
    std::string unusable = layer::UnusableWindow(options.rest, driverWindow, root,
                                                 [](uint32_t id) { return IsWindow((HWND)(uintptr_t)id) != FALSE; });
    arguments = layer::ModuleModeArguments(options.rest, driverWindow, root);
    layer::SetCommandLine(layer::BuildCommandLine(arguments));
    LPSTR line = GetCommandLineA();
    LPSTR tail = line + (layer::CommandLineTail(line) - line);
    // Several monitors: a whole saver on each, in a process of its own.
    int runStatus = 0;
    if (layer::RunOnePerMonitor(tail, argv, &runStatus)) return runStatus;
    if (panel) return PanelMain(GetModuleHandleA(nullptr), nullptr, tail, SW_SHOWNORMAL);
    int status = WinMain(GetModuleHandleA(nullptr), nullptr, tail, SW_SHOWNORMAL);
    // The program refuses such a window with -1 and no word, as Windows
    // programs do; here someone at a terminal or a driver's log should learn why.
    if (status == -1 && !unusable.empty()) std::fprintf(stderr, "%s: %s\n", program.c_str(), unusable.c_str());
    return status;
}
