#include "session/backend_choice.h"

#include <cstring>

#include "session/module_mode.h"

namespace layer {

static bool Set(const char *value) { return value && *value; }

BackendChoice ChooseBackend(const char *wanted, const char *waylandDisplay, const char *xDisplay,
                            bool namesXWindow) {
    BackendChoice choice;
    std::string asked = wanted ? wanted : "";
    if (asked == "headless") {
        choice.plan = BackendPlan::Headless;
        return choice;
    }
    if (namesXWindow) {
        // A window id is an X window's; no compositor could show us inside it.
        choice.plan = !Set(xDisplay) && Set(waylandDisplay) ? BackendPlan::PreviewNeedsX : BackendPlan::X11;
        return choice;
    }
    if (asked == "x11") {
        choice.plan = BackendPlan::X11;
        return choice;
    }
    if (asked == "wayland") {
        choice.plan = BackendPlan::Wayland;
        return choice;
    }
    if (!asked.empty())
        choice.warning = "VANTREL_BACKEND=" + asked + " is not headless, x11 or wayland; choosing by the session";
    choice.plan = Set(waylandDisplay) ? BackendPlan::WaylandElseX11 : BackendPlan::X11;
    return choice;
}

bool NamesXWindow(const std::vector<std::string> &arguments, const char *xscreensaverWindow) {
    if (Set(xscreensaverWindow)) return true;
    if (ModuleModeArguments(arguments, nullptr, 1) != arguments) return true;
    // The mode letter, found as the program finds it in its command line.
    std::string tail;
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (i > 1) tail += ' ';
        tail += arguments[i];
    }
    size_t at = tail.find_first_not_of(" -/");
    if (at == std::string::npos) return false;
    char mode = tail[at];
    return mode == 'p' || mode == 'P' || mode == 'l' || mode == 'L';
}

}  // namespace layer
