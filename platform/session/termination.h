// Ending a run from outside: SIGTERM (what a module's driver sends when the
// user comes back) and SIGINT (Ctrl+C in a terminal). Windows has no such
// request; the nearest is a session that ends, and the program is treated
// as then: its windows are destroyed with the usual messages and its loop
// gets the quit message, so it leaves through its own exit path with 0.
#ifndef VANTREL_PLATFORM_TERMINATION_H
#define VANTREL_PLATFORM_TERMINATION_H

namespace layer {

// Installs the handlers. Any signal after the first ends the process the
// default way, so a program that hangs on its way out can still be stopped
// (within a hold, below, once the hold ends).
void InstallTerminationHandlers();

// A descriptor that turns readable when a request arrives, for backends to
// wait on beside their own; -1 before the handlers are installed.
int TerminationWakeDescriptor();

// True once for each request (the wake descriptor is drained).
bool TakeTerminationRequest();

// Forgets a request not yet taken (for a reset of the layer).
void ClearTerminationRequest();

// Holds back the signals that end a run (SIGTERM, SIGINT, SIGHUP) until the
// matching release, for a write that must not be cut short halfway (the
// registry file's temporary copy, before it is renamed into place): one
// that arrives meanwhile takes effect right after, even one that ends the
// process. Holds nest.
void HoldTermination();
void ReleaseTermination();

// A process that waits for children of its own: a child's end makes the
// wake descriptor readable too, and TakeChildExit says so once for each
// batch of ends (draining the descriptor whatever it held).
void WatchChildExits();
bool TakeChildExit();

}  // namespace layer

#endif
