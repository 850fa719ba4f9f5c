// Reaching the thread that opened a session or registered an object: a
// hidden window of the porting layer on that thread, woken by a posted
// message, so that the library's own threads never call into the host.
#pragma once

#include <memory>

#include "plat/types.h"

namespace ksn {

class WakeTarget {
 public:
  // Runs on the window's thread, from its message loop.
  virtual void OnWake(plat::HWND window) = 0;

 protected:
  ~WakeTarget() = default;
};

// A hidden window on the calling thread whose wake messages reach `target`
// for as long as it lives; 0 on failure.
plat::HWND CreateWakeWindow(std::weak_ptr<WakeTarget> target);
// Any thread. False when the window is gone or its thread's queue is full.
bool PostWake(plat::HWND window);
// Wakes go nowhere from now on; the window is destroyed when the calling
// thread owns it (otherwise it goes with its thread).
void ReleaseWakeWindow(plat::HWND window);

}  // namespace ksn
