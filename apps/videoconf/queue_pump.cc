#include "queue_pump.h"

#include <poll.h>
#include <signal.h>

#include <csignal>
#include <initializer_list>

#include "plat/message.h"

namespace videoconf_app {
namespace {

volatile std::sig_atomic_t stop_requested = 0;

constexpr int kPollWithoutFdMs = 10;

void OnStopSignal(int) {
  stop_requested = 1;
}

}  // namespace

int PumpQueue(int timeout_ms) {
  // A signal or a failed poll only ends the wait early: whatever waits is
  // dispatched all the same.
  pollfd queue{plat::GetQueueFd(), POLLIN, 0};
  if (queue.fd < 0 && (timeout_ms < 0 || timeout_ms > kPollWithoutFdMs)) {
    timeout_ms = kPollWithoutFdMs;  // the queue could not get one: look now and then
  }
  poll(&queue, 1, timeout_ms);
  int dispatched = 0;
  plat::MSG msg;
  while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
    if (msg.message != plat::WM_QUIT) {
      plat::DispatchMessage(&msg);
    }
    ++dispatched;
  }
  return dispatched;
}

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    sigaction(signal_number, &action, nullptr);
  }
  signal(SIGPIPE, SIG_IGN);
}

bool StopRequested() {
  return stop_requested != 0;
}

}  // namespace videoconf_app
