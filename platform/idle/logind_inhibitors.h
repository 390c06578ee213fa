// logind's idle inhibitors with the folder where logind keeps them named:
// the tests' stand-in keeps them in a folder of its own.
#pragma once

#include "idle/watcher.h"

namespace idle {

// WatchLogindInhibitors with `runDir` for /run/systemd (its "inhibit"
// folder holds one file per inhibitor).
std::unique_ptr<Inhibitors> WatchLogindInhibitorsIn(sd_bus *system, std::function<void()> changed, std::string *why,
                                                    const std::string &runDir);

}  // namespace idle
