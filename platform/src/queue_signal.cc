#include "queue_signal.h"

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace plat::internal {
namespace {

bool Watch(int epoll_fd, int fd) {
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.fd = fd;
  return epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &event) == 0;
}

}  // namespace

QueueSignal::QueueSignal() {
  epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
  event_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  timer_fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  socket_epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
  waiter_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (epoll_fd_ < 0 || event_fd_ < 0 || timer_fd_ < 0 || socket_epoll_fd_ < 0 || waiter_fd_ < 0 ||
      !Watch(epoll_fd_, event_fd_) || !Watch(epoll_fd_, timer_fd_) ||
      !Watch(epoll_fd_, socket_epoll_fd_)) {
    CloseAll();
  }
}

QueueSignal::~QueueSignal() {
  CloseAll();
}

void QueueSignal::CloseAll() {
  for (int* fd : {&epoll_fd_, &event_fd_, &timer_fd_, &socket_epoll_fd_, &waiter_fd_}) {
    if (*fd >= 0)
      close(*fd);
    *fd = -1;
  }
}

void QueueSignal::SetPending(bool pending) {
  if (pending == pending_ || event_fd_ < 0)
    return;
  pending_ = pending;
  std::uint64_t value = 1;
  // The counter only ever holds 0 or 1: a write raises it, a read clears it.
  const ssize_t done =
      pending ? write(event_fd_, &value, sizeof(value)) : read(event_fd_, &value, sizeof(value));
  static_cast<void>(done);
}

void QueueSignal::ArmTimer(std::optional<std::int64_t> due_ns) {
  if (due_ns == armed_ || timer_fd_ < 0)
    return;
  armed_ = due_ns;
  itimerspec setting{};
  if (due_ns) {
    // An all-zero time would disarm; a due time in the past fires at once.
    const std::int64_t at = *due_ns > 0 ? *due_ns : 1;
    setting.it_value.tv_sec = at / 1000000000;
    setting.it_value.tv_nsec = at % 1000000000;
  }
  timerfd_settime(timer_fd_, TFD_TIMER_ABSTIME, &setting, nullptr);
}

bool QueueSignal::WatchSocket(int socket, std::uint32_t epoll_events) {
  if (socket_epoll_fd_ < 0)
    return false;
  epoll_event event{};
  event.events = epoll_events;
  event.data.fd = socket;
  if (epoll_ctl(socket_epoll_fd_, EPOLL_CTL_MOD, socket, &event) == 0)
    return true;
  return epoll_ctl(socket_epoll_fd_, EPOLL_CTL_ADD, socket, &event) == 0;
}

void QueueSignal::UnwatchSocket(int socket) {
  if (socket_epoll_fd_ >= 0)
    epoll_ctl(socket_epoll_fd_, EPOLL_CTL_DEL, socket, nullptr);
}

int QueueSignal::ReadySockets(epoll_event* out, int max) {
  if (socket_epoll_fd_ < 0)
    return 0;
  const int n = epoll_wait(socket_epoll_fd_, out, max, 0);
  return n > 0 ? n : 0;
}

bool QueueSignal::WaitSockets(int timeout_ms) {
  if (socket_epoll_fd_ < 0)
    return false;
  pollfd fds[2] = {{socket_epoll_fd_, POLLIN, 0}, {waiter_fd_, POLLIN, 0}};
  poll(fds, 2, timeout_ms);
  if (fds[1].revents & POLLIN) {
    std::uint64_t value;
    static_cast<void>(read(waiter_fd_, &value, sizeof(value)));
  }
  return true;
}

void QueueSignal::WakeSocketWaiter() {
  if (waiter_fd_ < 0)
    return;
  const std::uint64_t value = 1;
  static_cast<void>(write(waiter_fd_, &value, sizeof(value)));
}

}  // namespace plat::internal
