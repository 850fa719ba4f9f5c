#include "timer_list.h"

#include <algorithm>

namespace plat::internal {

TimerList::Timer* TimerList::Find(HWND hwnd, UINT_PTR id) {
  const auto it = std::find_if(timers_.begin(), timers_.end(),
                               [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
  return it == timers_.end() ? nullptr : &*it;
}

void TimerList::Set(HWND hwnd, UINT_PTR id, std::int64_t period_ns, std::int64_t now_ns) {
  Timer* timer = Find(hwnd, id);
  if (timer == nullptr)
    timer = &timers_.emplace_back(Timer{hwnd, id});
  timer->period_ns = period_ns;
  timer->due_ns = now_ns + period_ns;
}

bool TimerList::Kill(HWND hwnd, UINT_PTR id) {
  return std::erase_if(timers_, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; }) > 0;
}

void TimerList::KillWindow(HWND hwnd) {
  std::erase_if(timers_, [&](const Timer& t) { return t.hwnd == hwnd; });
}

const TimerList::Timer* TimerList::FindDue(HWND hwnd, std::int64_t now_ns) const {
  const Timer* earliest = nullptr;
  for (const Timer& t : timers_) {
    if ((hwnd != 0 && t.hwnd != hwnd) || t.due_ns > now_ns)
      continue;
    if (earliest == nullptr || t.due_ns < earliest->due_ns)
      earliest = &t;
  }
  return earliest;
}

void TimerList::Restart(HWND hwnd, UINT_PTR id, std::int64_t now_ns) {
  if (Timer* timer = Find(hwnd, id))
    timer->due_ns = now_ns + timer->period_ns;
}

std::optional<std::int64_t> TimerList::EarliestDue(HWND hwnd) const {
  std::optional<std::int64_t> earliest;
  for (const Timer& t : timers_) {
    if (hwnd != 0 && t.hwnd != hwnd)
      continue;
    if (!earliest || t.due_ns < *earliest)
      earliest = t.due_ns;
  }
  return earliest;
}

}  // namespace plat::internal
