#include "message_queue.h"

#include <sys/epoll.h>

#include <algorithm>
#include <chrono>
#include <new>

#include "monotonic_clock.h"
#include "plat/socket.h"

namespace plat::internal {
namespace {

// SetTimer's bounds on Windows (USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM).
constexpr UINT kMinTimerMs = 10;
constexpr UINT kMaxTimerMs = 0x7FFFFFFF;

// A poll timeout that ends at `due_ns` (monotonic), rounded up; -1 for none (-1).
int MillisecondsUntil(std::int64_t due_ns) {
  if (due_ns < 0)
    return -1;
  const std::int64_t left = due_ns - MonotonicNanoseconds();
  return left <= 0 ? 0
                   : static_cast<int>(std::min<std::int64_t>((left + 999999) / 1000000, 1 << 30));
}

}  // namespace

bool MessageQueue::Post(const MSG& msg) {
  std::lock_guard lock(mutex_);
  if (closed_ || messages_.size() >= kMaxQueuedMessages)
    return false;
  try {
    messages_.PushBack(msg);
  } catch (const std::bad_alloc&) {
    return false;  // as for a full queue
  }
  signal_.SetPending(true);
  if (waiting_)
    posted_.notify_one();
  if (socket_waiting_)
    signal_.WakeSocketWaiter();
  return true;
}

void MessageQueue::PostQuit(int exit_code) {
  std::lock_guard lock(mutex_);
  if (closed_)
    return;
  quit_code_ = exit_code;
  signal_.SetPending(true);
  if (socket_waiting_)
    signal_.WakeSocketWaiter();
}

bool MessageQueue::Peek(const MessageFilter& filter, bool remove, MSG* msg) {
  std::lock_guard lock(mutex_);
  const std::size_t i =
      messages_.FindFirst([&](const MSG& m) { return filter.Accepts(m.hwnd, m.message); });
  if (i < messages_.size()) {
    *msg = messages_[i];
    if (remove) {
      messages_.Erase(i);
      UpdateSignalLocked();
    }
    return true;
  }
  if (quit_code_ && filter.AcceptsQuit()) {
    *msg = MSG{0, WM_QUIT, static_cast<WPARAM>(*quit_code_), 0, MonotonicMilliseconds()};
    if (remove) {
      quit_code_.reset();
      UpdateSignalLocked();
    }
    return true;
  }
  // Level-triggered: a socket's message is made, not queued, and comes
  // again while the socket stays ready.
  if (TakeSocketLocked(filter, msg))
    return true;
  return TakeTimerLocked(filter, remove, msg);
}

bool MessageQueue::TakeSocketLocked(const MessageFilter& filter, MSG* msg) {
  if (sockets_.empty())
    return false;
  epoll_event ready[8];
  const int n = signal_.ReadySockets(ready, 8);
  for (int i = 0; i < n; ++i) {
    const auto it = sockets_.find(ready[i].data.fd);
    if (it == sockets_.end() || !filter.Accepts(it->second.hwnd, it->second.message))
      continue;
    const std::uint32_t e = ready[i].events;
    const long events = ((e & EPOLLIN) ? FD_READ : 0) | ((e & EPOLLOUT) ? FD_WRITE : 0) |
                        ((e & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) ? FD_CLOSE : 0);
    *msg = MSG{it->second.hwnd, it->second.message, static_cast<WPARAM>(it->first),
               static_cast<LPARAM>(events), MonotonicMilliseconds()};
    return true;
  }
  return false;
}

bool MessageQueue::SelectSocket(int socket, HWND hwnd, UINT message, long events) {
  std::lock_guard lock(mutex_);
  if (closed_)
    return false;
  if (events == 0) {
    if (sockets_.erase(socket) != 0)
      signal_.UnwatchSocket(socket);
    return true;
  }
  const std::uint32_t wanted = ((events & FD_READ) ? EPOLLIN : 0u) |
                               ((events & FD_WRITE) ? EPOLLOUT : 0u) |
                               ((events & FD_CLOSE) ? EPOLLRDHUP : 0u);
  if (!signal_.WatchSocket(socket, wanted))
    return false;
  sockets_[socket] = SocketWatch{hwnd, message};
  // A GetMessage asleep on posts alone must wait on the sockets from now on.
  if (waiting_)
    posted_.notify_one();
  return true;
}

void MessageQueue::ForgetSockets(HWND hwnd) {
  std::lock_guard lock(mutex_);
  std::erase_if(sockets_, [&](const auto& entry) {
    if (entry.second.hwnd != hwnd)
      return false;
    signal_.UnwatchSocket(entry.first);
    return true;
  });
}

bool MessageQueue::TakeTimerLocked(const MessageFilter& filter, bool remove, MSG* msg) {
  if (!filter.AcceptsMessage(WM_TIMER))
    return false;
  const std::int64_t now = MonotonicNanoseconds();
  const TimerList::Timer* timer = timers_.FindDue(filter.hwnd, now);
  if (timer == nullptr)
    return false;
  *msg = MSG{timer->hwnd, WM_TIMER, timer->id, 0, static_cast<DWORD>(now / 1000000)};
  if (remove) {
    timers_.Restart(timer->hwnd, timer->id, now);
    UpdateSignalLocked();
  }
  return true;
}

bool MessageQueue::HasMatchLocked(const MessageFilter& filter, std::int64_t now_ns) {
  if (messages_.FindFirst([&](const MSG& m) { return filter.Accepts(m.hwnd, m.message); }) <
      messages_.size()) {
    return true;
  }
  if (quit_code_ && filter.AcceptsQuit())
    return true;
  MSG socket_message;
  if (TakeSocketLocked(filter, &socket_message))
    return true;
  return filter.AcceptsMessage(WM_TIMER) && timers_.FindDue(filter.hwnd, now_ns) != nullptr;
}

bool MessageQueue::Wait(const MessageFilter& filter) {
  std::unique_lock lock(mutex_);
  while (!HasMatchLocked(filter, MonotonicNanoseconds())) {
    if (closed_)
      return false;
    // Only posts come from other threads; timers of this thread change only
    // when this thread runs, so the next matching due time bounds the sleep.
    // -1: no timer bounds the sleep.
    const std::int64_t due =
        filter.AcceptsMessage(WM_TIMER) ? timers_.EarliestDue(filter.hwnd).value_or(-1) : -1;
    if (!sockets_.empty()) {
      // Sockets have no condition variable: wait on them, and let posts
      // (and the quit request) wake the wait through the signal.
      const int timeout_ms = MillisecondsUntil(due);
      socket_waiting_ = true;
      lock.unlock();
      const bool waited = signal_.WaitSockets(timeout_ms);
      lock.lock();
      socket_waiting_ = false;
      if (waited)
        continue;
    }
    waiting_ = true;
    if (due >= 0) {
      // steady_clock is CLOCK_MONOTONIC, the clock of the due times.
      posted_.wait_until(lock,
                         std::chrono::steady_clock::time_point(std::chrono::nanoseconds(due)));
    } else {
      posted_.wait(lock);
    }
    waiting_ = false;
  }
  return true;
}

void MessageQueue::SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms) {
  const std::int64_t period_ms = std::clamp(elapse_ms, kMinTimerMs, kMaxTimerMs);
  std::lock_guard lock(mutex_);
  timers_.Set(hwnd, id, period_ms * 1000000, MonotonicNanoseconds());
  UpdateSignalLocked();
}

bool MessageQueue::KillTimer(HWND hwnd, UINT_PTR id) {
  std::lock_guard lock(mutex_);
  const bool killed = timers_.Kill(hwnd, id);
  UpdateSignalLocked();
  return killed;
}

void MessageQueue::KillTimers(HWND hwnd) {
  std::lock_guard lock(mutex_);
  timers_.KillWindow(hwnd);
  UpdateSignalLocked();
}

void MessageQueue::Close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  messages_.Clear();
  quit_code_.reset();
  timers_.Clear();
  for (const auto& [socket, watch] : sockets_)
    signal_.UnwatchSocket(socket);
  sockets_.clear();
  UpdateSignalLocked();
}

void MessageQueue::UpdateSignalLocked() {
  signal_.SetPending(!messages_.empty() || quit_code_.has_value());
  signal_.ArmTimer(timers_.EarliestDue());
}

}  // namespace plat::internal
