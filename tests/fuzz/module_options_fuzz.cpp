// The arguments of a module run, as a driver or a user may type them: the
// option parser, the module-mode translation after it, and the settings the
// program then reads, which must be in range whatever was asked for.
#include <layer_hooks.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/session/module_mode.h"
#include "settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // NUL bytes separate the arguments.
    std::vector<std::string> arguments = {"vantrel-saver"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    arguments.push_back(current);

    layer::ResetHeadless(64, 48);
    layer::ModuleOptions options = layer::ParseModuleOptions(arguments);
    // What is refused is said on one line; what is accepted leaves the program
    // no more arguments than it was given.
    if (options.error.find('\n') != std::string::npos || options.rest.size() > arguments.size())
        __builtin_trap();
    if (!options.error.empty() || options.help)
        return 0;
    std::vector<std::string> program = layer::ModuleModeArguments(options.rest, "0x400004", 0x50D);
    if (program.empty() || program.size() > options.rest.size() + 2)
        __builtin_trap();
    layer::ApplyModuleOptions(options);
    LoadSettings();
    const SaverSettingsRecord &s = SaverSettings;
    if (s.BombCount < 1 || s.BombCount > 200 || s.BombSpeed < 1 || s.BombSpeed > 100 || s.ScreenDelay < 1 ||
        s.ScreenDelay > 100 || (s.BombsOnly & ~1) || (s.BombBackdrop & ~1))
        __builtin_trap();
    return 0;
}
