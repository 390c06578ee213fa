// CreateProcessA's splitting of a command line into a child's arguments, fed
// arbitrary lines: it never reads past the end, and what it splits, joined
// again the way main() joins arguments, splits into the same arguments.
#include <layer_hooks.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string line(reinterpret_cast<const char *>(data), size);
    line = line.c_str();  // a command line ends at its first NUL
    std::vector<std::string> args = layer::SplitCommandLine(line.c_str());
    // A program name holding a quote or a backslash cannot always be written
    // back: its part of the line has no escapes.
    if (args.empty() || args[0].empty() || args[0].find_first_of("\"\\") != std::string::npos) return 0;
    std::string joined = layer::BuildCommandLine(args);
    if (layer::SplitCommandLine(joined.c_str()) != args) std::abort();
    return 0;
}
