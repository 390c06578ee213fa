// The watcher's loop: settings, the idle source, the holders of idle, and
// the saver it starts.
#include "idle/watcher.h"

#include <cstdio>

namespace idle {

int RunWatcher(const std::vector<std::string> &) {
    std::fprintf(stderr, "vantrel-saver: the watcher is not built yet\n");
    return 1;
}

}  // namespace idle
