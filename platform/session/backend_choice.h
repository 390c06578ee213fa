// Which display a run goes to, decided from the environment and the command
// line before anything is opened.
#ifndef VANTREL_PLATFORM_BACKEND_CHOICE_H
#define VANTREL_PLATFORM_BACKEND_CHOICE_H

#include <string>
#include <vector>

namespace layer {

enum class BackendPlan {
    Headless,        // VANTREL_BACKEND=headless: the desktop in memory
    X11,             // the X server of $DISPLAY
    Wayland,         // the compositor of $WAYLAND_DISPLAY, nothing else
    WaylandElseX11,  // the compositor if it answers, else the X server
    PreviewNeedsX,   // the run names an X window, and there is no X server to name it on
};

struct BackendChoice {
    BackendPlan plan = BackendPlan::X11;
    std::string warning;  // one line for stderr, or ""
};

// `wanted` is $VANTREL_BACKEND, `waylandDisplay` $WAYLAND_DISPLAY and
// `xDisplay` $DISPLAY (each null when unset). A run that names an X window
// (a preview, a module run) goes to the X server whatever else is set,
// except to the headless desktop that tests ask for.
BackendChoice ChooseBackend(const char *wanted, const char *waylandDisplay, const char *xDisplay,
                            bool namesXWindow);

// Whether the run draws into a window that someone else names by its X id:
// a preview ("/p N", "/l N", in any spelling the program accepts), a module
// run ("--root", "--window-id N"), or one under $XSCREENSAVER_WINDOW.
// `arguments` are what the module options left, the program name first.
bool NamesXWindow(const std::vector<std::string> &arguments, const char *xscreensaverWindow);

}  // namespace layer

#endif
