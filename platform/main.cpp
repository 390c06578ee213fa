// The process entry on Linux: set the layer up, give the program the
// command line a Windows process would have, and run WinMain.
#include <windows.h>

#include <layer_hooks.h>

#include <string>
#include <vector>

#include "layer_internal.h"

int main(int argc, char **argv) {
    layer::EnsureStarted();
    std::vector<std::string> arguments(argv, argv + argc);
    layer::SetCommandLine(layer::BuildCommandLine(arguments));
    LPSTR line = GetCommandLineA();
    LPSTR tail = line + (layer::CommandLineTail(line) - line);
    return WinMain(GetModuleHandleA(nullptr), nullptr, tail, SW_SHOWNORMAL);
}
