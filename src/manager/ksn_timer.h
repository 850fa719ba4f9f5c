// A 50 ms tick on the thread that made the object, delivered through a
// hidden window while that thread pumps its messages.
#pragma once

#include "common/thread_checker.h"
#include "plat/types.h"

namespace ksn {

// Bound by slot position: destructor, OnTimer.
class timer {
 public:
  static constexpr plat::UINT_PTR kTimerId = 1002;
  static constexpr plat::UINT kPeriodMs = 50;
  static constexpr char kClassName[] = "timer_dispatcher_ksnx";

  timer(const timer&) = delete;
  timer& operator=(const timer&) = delete;
  // Stops the tick and destroys the window; a tick still queued is discarded.
  // Must run on the thread that made the object.
  virtual ~timer();

  // Every tick. A std::runtime_error from it is dropped.
  virtual void OnTimer() = 0;

  // Null once destroyed (or when the window could not be made).
  plat::HWND timer_window() const {
    VC_DCHECK_RUN_ON(&checker_);
    return timer_window_;
  }

 protected:
  // Registers the window class, creates the hidden window and starts the timer.
  timer();

  // Teardown has begun: ticks that still arrive are discarded, while the
  // window and its timer live on until the destructor.
  void HoldTicks() {
    VC_DCHECK_RUN_ON(&checker_);
    ticks_held_ = true;
  }

 private:
  static plat::LRESULT WindowProc(plat::HWND window, plat::UINT message, plat::WPARAM wparam,
                                  plat::LPARAM lparam);

  // The thread that made the object: its window, its ticks and its end are there.
  COMM::ThreadChecker checker_;
  plat::HWND timer_window_ VC_GUARDED_BY(checker_) = 0;
  const char* class_name_ = kClassName;
  bool ticks_held_ VC_GUARDED_BY(checker_) = false;
};

}  // namespace ksn
