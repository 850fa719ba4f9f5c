// The timers of one thread's windows. A timer is only a due time: WM_TIMER is
// made from it when the thread looks at its queue, so nothing piles up while
// the thread is busy.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "plat/types.h"

namespace plat::internal {

class TimerList {
 public:
  struct Timer {
    HWND hwnd = 0;
    UINT_PTR id = 0;
    std::int64_t period_ns = 0;
    std::int64_t due_ns = 0;  // monotonic
  };

  // Starts timer (hwnd, id), or restarts it with a new period: due one
  // period after `now_ns`.
  void Set(HWND hwnd, UINT_PTR id, std::int64_t period_ns, std::int64_t now_ns);
  bool Kill(HWND hwnd, UINT_PTR id);
  void KillWindow(HWND hwnd);
  void Clear() { timers_.clear(); }

  // The earliest timer due at `now_ns` of window `hwnd` (0: any window).
  const Timer* FindDue(HWND hwnd, std::int64_t now_ns) const;
  // The timer's tick was taken: the next one is due a period after `now_ns`.
  void Restart(HWND hwnd, UINT_PTR id, std::int64_t now_ns);
  // The earliest due time of the timers of window `hwnd` (0: any window).
  std::optional<std::int64_t> EarliestDue(HWND hwnd = 0) const;

 private:
  Timer* Find(HWND hwnd, UINT_PTR id);

  std::vector<Timer> timers_;
};

}  // namespace plat::internal
