// Starting as a display module: XScreenSaver runs its modules with "--root"
// (drawing into the window named by $XSCREENSAVER_WINDOW, or the root
// window itself) and its settings dialog with "--window-id N". Both become
// the preview command line the program understands, "/p <decimal id>".
//
// Its settings dialog hands a module's settings over as options, which
// stand in for the five stored settings for one run: the program still
// reads them through the registry calls, so its own limits apply, and
// nothing is written back.
#ifndef VANTREL_PLATFORM_MODULE_MODE_H
#define VANTREL_PLATFORM_MODULE_MODE_H

#include <cstdint>
#include <functional>
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

// Why the window a run is to draw into cannot be used, as one line naming
// it and where it came from: its number is malformed, or no window has it
// ("" when the run is no preview or module run, or `windowExists` accepts
// its window). `arguments` and the rest are ModuleModeArguments'; a preview
// ("/p N", "/l N") is read as the program reads it. The program refuses such
// a run without a word, as on Windows, so the layer says this for it.
std::string UnusableWindow(const std::vector<std::string> &arguments, const char *xscreensaverWindow,
                           uintptr_t rootWindow, const std::function<bool(uint32_t)> &windowExists);

// What the options of one command line ask for.
struct ModuleOptions {
    // Registry value names of the program's settings, with the values that
    // stand in for them, in the order given (a later one wins).
    std::vector<std::pair<std::string, uint32_t>> settings;
    bool frameRate = false;  // --fps
    bool help = false;       // --help: print HelpText() and end with 0
    // One line naming what was not understood; the run must not start.
    std::string error;
    // The arguments left for ModuleModeArguments and the program, the
    // program name first.
    std::vector<std::string> rest;
};

// Takes the module options ("--bomb-count N", "--bomb-count=N", "-bomb-count
// N", ... see HelpText) out of the arguments, in any order. Anything else
// that starts with "--" is an error, and so is any argument a module run
// ("--root", "--window-id") has no use for; without those, single-dash and
// slash switches are the program's own and are left for it.
ModuleOptions ParseModuleOptions(const std::vector<std::string> &arguments);

// What --help prints.
std::string HelpText(const std::string &program);

// Makes the options hold for this run: the settings are what the program's
// registry key answers from now on, and --fps turns the frame-rate overlay on.
void ApplyModuleOptions(const ModuleOptions &options);

}  // namespace layer

#endif
