// One thread's message queue: posted messages (from any thread), the quit
// request and the thread's window timers.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>

#include "message_ring.h"
#include "plat/types.h"
#include "queue_signal.h"
#include "timer_list.h"

namespace plat::internal {

// Which messages a PeekMessage/GetMessage call takes.
struct MessageFilter {
  HWND hwnd = 0;  // 0: any window (and WM_QUIT)
  UINT min = 0;   // min = max = 0: any message
  UINT max = 0;

  bool Accepts(HWND window, UINT message) const {
    return (hwnd == 0 || window == hwnd) && AcceptsMessage(message);
  }
  bool AcceptsMessage(UINT message) const {
    return (min == 0 && max == 0) || (message >= min && message <= max);
  }
  bool AcceptsQuit() const { return hwnd == 0 && AcceptsMessage(WM_QUIT); }
};

class MessageQueue {
 public:
  // Any thread. False when the queue is full or its thread has ended.
  bool Post(const MSG& msg);
  void PostQuit(int exit_code);

  // The owner thread looks for a message: posted ones first (oldest first),
  // then WM_QUIT, then a WM_TIMER of a due timer.
  bool Peek(const MessageFilter& filter, bool remove, MSG* msg);
  // The owner thread waits until Peek with `filter` would find something;
  // false at once when the queue is closed (nothing will ever come).
  bool Wait(const MessageFilter& filter);

  void SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms);
  bool KillTimer(HWND hwnd, UINT_PTR id);
  void KillTimers(HWND hwnd);

  // The thread is ending: posts are refused from now on, and what waits is dropped.
  void Close();

  int fd() const { return signal_.fd(); }

 private:
  bool HasMatchLocked(const MessageFilter& filter, std::int64_t now_ns) const;
  bool TakeTimerLocked(const MessageFilter& filter, bool remove, MSG* msg);
  void UpdateSignalLocked();

  mutable std::mutex mutex_;
  std::condition_variable posted_;
  bool waiting_ = false;  // the owner sleeps in Wait
  bool closed_ = false;
  MessageRing messages_;
  std::optional<int> quit_code_;
  TimerList timers_;
  QueueSignal signal_;
};

}  // namespace plat::internal
