// A full-screen run on a display of several monitors gives every monitor a
// whole saver of its own: the process that was started becomes the run's
// parent and starts the program again once per monitor, each child told
// (VANTREL_MONITOR, VANTREL_MONITOR_NAME, VANTREL_RUN: see MonitorShare in
// layer_internal.h) to take its monitor as the whole screen. The parent
// draws nothing; it waits.
//
// The run ends as a run of one process does, and all of it at once: when a
// child ends (input on its monitor, a crash, a kill), the parent ends the
// others with SIGTERM (SIGKILL for any still there after a while) and ends
// with that child's status, 128 + the signal's number for one killed by a
// signal; SIGTERM or SIGINT to the parent ends the children the same way
// and the parent with 0. A child whose parent goes (even by SIGKILL) gets
// SIGTERM from the system. A monitor that goes while the run lasts takes
// its child with it, the others go on; one that comes gets a child of its
// own within a second.
#ifndef VANTREL_PLATFORM_MONITOR_RUN_H
#define VANTREL_PLATFORM_MONITOR_RUN_H

#include <string>

namespace layer {

// Whether the text WinMain gets starts a full-screen run ("/s", "-S" ...),
// read as the program reads its launch mode.
bool AsksForFullScreen(const char *commandTail);

// Runs the program once per monitor when this process is to be the parent
// of such a run: a full-screen run, on a display that shares itself out,
// with more than one monitor, in a process that is not a child of a run
// itself. Then returns true and the run's exit status in `*status`;
// otherwise false at once, and this process runs the program itself.
// `argv` is main's, given to every child unchanged.
bool RunOnePerMonitor(const char *commandTail, char **argv, int *status);

}  // namespace layer

#endif
