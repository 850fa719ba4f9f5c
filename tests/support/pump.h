// Message pumping and window look-ups for tests that run the porting layer's
// queues on their own thread.
#pragma once

#include <chrono>
#include <string>
#include <thread>

#include "plat/message.h"
#include "plat/window.h"

namespace vc_test {

// Dispatches the calling thread's messages for `duration`.
inline void PumpFor(std::chrono::milliseconds duration) {
  const auto end = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < end) {
    plat::MSG msg;
    while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE))
      plat::DispatchMessage(&msg);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

inline int CountWindowsOfClass(const std::string& class_name) {
  int count = 0;
  for (const plat::HWND window : plat::EnumWindows()) {
    if (plat::GetClassName(window) == class_name)
      ++count;
  }
  return count;
}

// True when no class of that name is registered under the host's image: it
// can be registered afresh (and is unregistered again).
inline bool ClassIsFree(const char* class_name) {
  plat::WNDCLASS wc;
  wc.lpfnWndProc = &plat::DefWindowProc;
  wc.hInstance = plat::GetModuleHandle(nullptr);
  wc.lpszClassName = class_name;
  if (plat::RegisterClass(&wc) == 0)
    return false;
  plat::UnregisterClass(class_name, wc.hInstance);
  return true;
}

}  // namespace vc_test
