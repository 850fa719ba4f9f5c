// The file descriptor a host polls to learn that a thread's queue has work:
// an epoll set of an eventfd (readable while posted messages wait) and a
// timerfd (readable from the earliest timer's due time until it is re-armed).
#pragma once

#include <cstdint>
#include <optional>

namespace plat::internal {

class QueueSignal {
 public:
  QueueSignal();
  ~QueueSignal();
  QueueSignal(const QueueSignal&) = delete;
  QueueSignal& operator=(const QueueSignal&) = delete;

  // The pollable descriptor, -1 when the kernel refused to make one (the
  // queue then still works, only not from a host's event loop).
  int fd() const { return epoll_fd_; }

  // Makes the descriptor readable (or not) for posted messages.
  void SetPending(bool pending);
  // Readable from `due_ns` (monotonic) on; nullopt: no timer.
  void ArmTimer(std::optional<std::int64_t> due_ns);

 private:
  void CloseAll();

  int epoll_fd_ = -1;
  int event_fd_ = -1;
  int timer_fd_ = -1;
  bool pending_ = false;
  std::optional<std::int64_t> armed_;
};

}  // namespace plat::internal
