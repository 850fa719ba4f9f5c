#include "queue_pump.h"

#include <signal.h>

#include <cerrno>
#include <csignal>
#include <vector>

#include "plat/message.h"

namespace videoconf_app {
namespace {

volatile std::sig_atomic_t stop_requested = 0;

void OnStopSignal(int) {
  stop_requested = 1;
}

}  // namespace

int PumpQueue(int timeout_ms, std::span<pollfd> extra) {
  std::vector<pollfd> fds;
  fds.reserve(extra.size() + 1);
  fds.push_back({plat::GetQueueFd(), POLLIN, 0});
  fds.insert(fds.end(), extra.begin(), extra.end());
  if (poll(fds.data(), fds.size(), timeout_ms) < 0 && errno != EINTR) {
    return 0;
  }
  for (std::size_t i = 0; i < extra.size(); ++i) {
    extra[i].revents = fds[i + 1].revents;
  }
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
