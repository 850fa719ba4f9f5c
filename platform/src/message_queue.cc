#include "message_queue.h"

#include <algorithm>
#include <chrono>
#include <new>

#include "monotonic_clock.h"

namespace plat::internal {
namespace {

// SetTimer's bounds on Windows (USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM).
constexpr UINT kMinTimerMs = 10;
constexpr UINT kMaxTimerMs = 0x7FFFFFFF;

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
  return true;
}

void MessageQueue::PostQuit(int exit_code) {
  std::lock_guard lock(mutex_);
  if (closed_)
    return;
  quit_code_ = exit_code;
  signal_.SetPending(true);
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
  return TakeTimerLocked(filter, remove, msg);
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

bool MessageQueue::HasMatchLocked(const MessageFilter& filter, std::int64_t now_ns) const {
  if (messages_.FindFirst([&](const MSG& m) { return filter.Accepts(m.hwnd, m.message); }) <
      messages_.size()) {
    return true;
  }
  if (quit_code_ && filter.AcceptsQuit())
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
    const auto due = filter.AcceptsMessage(WM_TIMER) ? timers_.EarliestDue(filter.hwnd)
                                                     : std::optional<std::int64_t>();
    waiting_ = true;
    if (due) {
      // steady_clock is CLOCK_MONOTONIC, the clock of the due times.
      posted_.wait_until(lock,
                         std::chrono::steady_clock::time_point(std::chrono::nanoseconds(*due)));
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
  UpdateSignalLocked();
}

void MessageQueue::UpdateSignalLocked() {
  signal_.SetPending(!messages_.empty() || quit_code_.has_value());
  signal_.ArmTimer(timers_.EarliestDue());
}

}  // namespace plat::internal
