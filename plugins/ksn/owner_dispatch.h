// Reaching the thread that opened a session or registered an object: a
// hidden window of the porting layer on that thread, woken by a posted
// message, so that the library's own threads never call into the host.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "annotated_mutex.h"
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

// One wake window per thread that opened a session or registered an object,
// and at most one wake in flight per window. Any thread; its own lock, taken
// last (callers may hold theirs).
class WakeWindows {
 public:
  // The calling thread's window, made on first use; 0 on failure.
  plat::HWND ForThisThread(const std::weak_ptr<WakeTarget>& target) VC_EXCLUDES(mutex_);
  // Posts a wake unless one is on its way. A full queue is tried again on
  // the next call.
  void Wake(plat::HWND window) VC_EXCLUDES(mutex_);
  // The window's thread took its wake: the next Wake posts again.
  void Woken(plat::HWND window) VC_EXCLUDES(mutex_);
  // Forgets every window and hands them back for ReleaseWakeWindow.
  std::vector<plat::HWND> TakeAll() VC_EXCLUDES(mutex_);

 private:
  Mutex mutex_;
  std::map<plat::DWORD, plat::HWND> windows_ VC_GUARDED_BY(mutex_);
  std::map<plat::HWND, bool> posted_ VC_GUARDED_BY(mutex_);
};

}  // namespace ksn
