// Posting, retrieving and dispatching messages: the calls of plat/message.h.
#include "plat/message.h"

#include "monotonic_clock.h"
#include "thread_queue.h"
#include "window_registry.h"

namespace plat {

using internal::MessageFilter;
using internal::WindowRegistry;

bool PostMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (hwnd == 0)
    return false;
  const MSG msg{hwnd, message, wparam, lparam, internal::MonotonicMilliseconds()};
  return WindowRegistry::Instance().Post(hwnd, msg);
}

bool PeekMessage(MSG* msg, HWND hwnd, UINT msg_min, UINT msg_max, UINT remove) {
  if (msg == nullptr)
    return false;
  return internal::CurrentThreadQueue().Peek(MessageFilter{hwnd, msg_min, msg_max},
                                             (remove & PM_REMOVE) != 0, msg);
}

int GetMessage(MSG* msg, HWND hwnd, UINT msg_min, UINT msg_max) {
  if (msg == nullptr)
    return -1;
  if (hwnd != 0) {
    // Waiting for a window that is gone or not this thread's would never end.
    const auto target = WindowRegistry::Instance().Find(hwnd);
    if (!target || target->owner != GetCurrentThreadId())
      return -1;
  }
  const MessageFilter filter{hwnd, msg_min, msg_max};
  internal::MessageQueue& queue = internal::CurrentThreadQueue();
  while (!queue.Peek(filter, true, msg)) {
    if (!queue.Wait(filter))
      return -1;
  }
  return msg->message == WM_QUIT ? 0 : 1;
}

LRESULT DispatchMessage(const MSG* msg) {
  if (msg == nullptr || msg->hwnd == 0)
    return 0;
  const auto target = WindowRegistry::Instance().Find(msg->hwnd);
  if (!target || target->owner != GetCurrentThreadId())
    return 0;
  return target->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exit_code) {
  internal::CurrentThreadQueue().PostQuit(exit_code);
}

int GetQueueFd() {
  return internal::CurrentThreadQueue().fd();
}

}  // namespace plat
