// Starting as a display module: XScreenSaver runs its modules with "--root"
// (drawing into the window named by $XSCREENSAVER_WINDOW, or the root
// window itself) and its settings dialog with "--window-id N". Both become
// the preview command line the program understands, "/p <decimal id>".
#ifndef VANTREL_PLATFORM_MODULE_MODE_H
#define VANTREL_PLATFORM_MODULE_MODE_H

#include <cstdint>
#include <string>
#include <vector>

namespace layer {

// A window id as the module's driver writes it: decimal, or hexadecimal
// after "0x". False for anything else, including zero and values that do
// not fit an X resource id (32 bits).
bool ParseWindowId(const char *text, uint32_t *id);

// The arguments (program name first) the program is to see. Unchanged
// unless "--root"/"-root" or "--window-id N"/"-window-id N"/"--window-id=N"
// is among them; then {program, "/p", id}, where an id that cannot be read
// becomes "0" so that the program refuses the run as it refuses any preview
// of a window that does not exist. `xscreensaverWindow` is the environment's
// $XSCREENSAVER_WINDOW (null when unset) and `rootWindow` the screen's root.
std::vector<std::string> ModuleModeArguments(const std::vector<std::string> &arguments,
                                             const char *xscreensaverWindow, uintptr_t rootWindow);

}  // namespace layer

#endif
