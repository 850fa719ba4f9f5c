// The file descriptor a host polls to learn that a thread's queue has work:
// an epoll set of an eventfd (readable while posted messages wait), a
// timerfd (readable from the earliest timer's due time until it is re-armed)
// and a second epoll set of the sockets the queue watches (readable while
// one of them is ready).
#pragma once

#include <cstdint>
#include <optional>

struct epoll_event;

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

  // Watches `socket` for `epoll_events` (added, or changed); false when the
  // kernel refuses.
  bool WatchSocket(int socket, std::uint32_t epoll_events);
  void UnwatchSocket(int socket);
  // The watched sockets ready now (at most `max`), without waiting.
  int ReadySockets(epoll_event* out, int max);
  // Blocks until a watched socket is ready, WakeSocketWaiter is called, or
  // `timeout_ms` (-1: none) passes. False when there is nothing to wait on.
  bool WaitSockets(int timeout_ms);
  void WakeSocketWaiter();

 private:
  void CloseAll();

  int epoll_fd_ = -1;
  int event_fd_ = -1;
  int timer_fd_ = -1;
  int socket_epoll_fd_ = -1;
  int waiter_fd_ = -1;  // wakes a WaitSockets for a post
  bool pending_ = false;
  std::optional<std::int64_t> armed_;
};

}  // namespace plat::internal
