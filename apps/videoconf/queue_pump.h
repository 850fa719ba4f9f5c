// The program's own event loop over the porting layer's queue: it waits on
// the queue's file descriptor, as a GLib or Qt host would, and dispatches
// what is waiting.
#pragma once

namespace videoconf_app {

// Waits at most `timeout_ms` (-1: no limit) for the calling thread's queue,
// which wakes for posted messages and for the thread's next due timer, then
// dispatches every waiting message. Returns the number dispatched.
int PumpQueue(int timeout_ms);

// SIGINT, SIGTERM and SIGHUP ask the program to stop instead of killing it,
// so that it always tears down what it started.
void InstallStopSignals();
bool StopRequested();

}  // namespace videoconf_app
