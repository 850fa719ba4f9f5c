// Message pumping and window look-ups for tests that run the porting layer's
// queues on their own thread.
#pragma once

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "plat/message.h"
#include "plat/window.h"

namespace vc_test {

// Dispatches the calling thread's messages until `done()` holds or `timeout`
// has passed; returns done()'s last answer. Between looks it sleeps on the
// queue's descriptor, so a message or a due timer wakes it at once, and a
// change made by another thread is seen within a few milliseconds.
template <typename Predicate>
bool PumpUntil(Predicate done, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + timeout;
  for (;;) {
    plat::MSG msg;
    while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE))
      plat::DispatchMessage(&msg);
    if (done())
      return true;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0)
      return false;
    pollfd queue{plat::GetQueueFd(), POLLIN, 0};
    poll(&queue, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 5)));
  }
}

template <typename Predicate>
bool PumpUntil(Predicate done, int timeout_ms) {
  return PumpUntil(done, std::chrono::milliseconds(timeout_ms));
}

// Dispatches the calling thread's messages for `duration`.
inline void PumpFor(std::chrono::milliseconds duration) {
  PumpUntil([] { return false; }, duration);
}

inline int CountWindowsOfClass(const std::string& class_name) {
  int count = 0;
  for (const plat::HWND window : plat::EnumWindows())
    count += plat::GetClassName(window) == class_name;
  return count;
}

// True when no class of that name is registered under the host's image: it
// can be registered afresh (and is unregistered again).
inline bool ClassIsFree(const char* class_name) {
  plat::WNDCLASS wc;
  wc.lpfnWndProc = &plat::DefWindowProc;
  wc.hInstance = plat::GetModuleHandle(nullptr);
  wc.lpszClassName = class_name;
  return plat::RegisterClass(&wc) != 0 && plat::UnregisterClass(class_name, wc.hInstance);
}

}  // namespace vc_test
