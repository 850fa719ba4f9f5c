// Window timers: the calls of plat/timer.h. A thread's timers live in its own
// queue, so only the owner of a window sets or kills its timers.
#include "plat/timer.h"

#include "plat/message.h"
#include "thread_queue.h"
#include "window_registry.h"

namespace plat {
namespace {

bool IsOwnLiveWindow(HWND hwnd) {
  const auto target = internal::WindowRegistry::Instance().Find(hwnd);
  return target && target->owner == GetCurrentThreadId() && !target->destroying;
}

}  // namespace

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse_ms, TIMERPROC proc) {
  if (id == 0 || proc != nullptr || !IsOwnLiveWindow(hwnd))
    return 0;
  internal::CurrentThreadQueue().SetTimer(hwnd, id, elapse_ms);
  return id;
}

bool KillTimer(HWND hwnd, UINT_PTR id) {
  if (hwnd == 0)
    return false;
  const auto target = internal::WindowRegistry::Instance().Find(hwnd);
  if (!target || target->owner != GetCurrentThreadId())
    return false;
  return internal::CurrentThreadQueue().KillTimer(hwnd, id);
}

}  // namespace plat
