// The program's own event loop over the porting layer's queue: it waits on
// the queue's file descriptor (as a GLib or Qt host would) beside any other
// descriptors the caller watches, and dispatches what is waiting.
#pragma once

#include <poll.h>

#include <span>

namespace videoconf_app {

// Waits at most `timeout_ms` for the calling thread's queue or one of
// `extra` (whose revents are filled in), then dispatches every waiting
// message. Returns the number of messages dispatched.
int PumpQueue(int timeout_ms, std::span<pollfd> extra = {});

// SIGINT, SIGTERM and SIGHUP ask the program to stop instead of killing it,
// so that it always tears down what it started.
void InstallStopSignals();
bool StopRequested();

}  // namespace videoconf_app
