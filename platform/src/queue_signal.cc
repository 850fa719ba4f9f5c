#include "queue_signal.h"

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
  if (epoll_fd_ < 0 || event_fd_ < 0 || timer_fd_ < 0 || !Watch(epoll_fd_, event_fd_) ||
      !Watch(epoll_fd_, timer_fd_)) {
    CloseAll();
  }
}

QueueSignal::~QueueSignal() {
  CloseAll();
}

void QueueSignal::CloseAll() {
  for (int* fd : {&epoll_fd_, &event_fd_, &timer_fd_}) {
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

}  // namespace plat::internal
