#include "manager/ksn_timer.h"

#include <stdexcept>

#include "plat/message.h"
#include "plat/timer.h"
#include "plat/window.h"

namespace ksn {

timer::timer() {
  // The class is registered under the host process's own image, as every
  // hidden window of the module is. A class already registered stays in use.
  const plat::HINSTANCE instance = plat::GetModuleHandle(nullptr);
  plat::WNDCLASS wc;
  wc.style = 0;
  wc.lpfnWndProc = &timer::WindowProc;
  wc.cbClsExtra = 0;
  wc.cbWndExtra = 0;
  wc.hInstance = instance;
  wc.lpszClassName = class_name_;
  plat::RegisterClass(&wc);
  timer_window_ =
      plat::CreateWindow(class_name_, class_name_, 0, 0, 0, 0, 0, 0, nullptr, instance, nullptr);
  plat::SetWindowLongPtr(timer_window_, plat::GWL_USERDATA, reinterpret_cast<plat::LONG_PTR>(this));
  plat::SetTimer(timer_window_, kTimerId, kPeriodMs, nullptr);
}

timer::~timer() {
  VC_DCHECK_RUN_ON(&checker_);
  if (!timer_window_)
    return;
  plat::KillTimer(timer_window_, kTimerId);
  plat::SetWindowLongPtr(timer_window_, plat::GWL_USERDATA, 0);
  // A tick already queued must not reach a half-destroyed object.
  plat::MSG msg;
  while (plat::PeekMessage(&msg, timer_window_, 0, 0, plat::PM_REMOVE)) {
  }
  plat::DestroyWindow(timer_window_);
  plat::UnregisterClass(class_name_, plat::GetModuleHandle(nullptr));
  timer_window_ = 0;
}

plat::LRESULT timer::WindowProc(plat::HWND window, plat::UINT message, plat::WPARAM wparam,
                                plat::LPARAM lparam) {
  switch (message) {
    case plat::WM_TIMER: {
      auto* self = reinterpret_cast<timer*>(plat::GetWindowLongPtr(window, plat::GWL_USERDATA));
      if (!self)
        return 0;
      if (plat::GetWindowThreadProcessId(window, nullptr) != plat::GetCurrentThreadId())
        return 0;
      // A stale link to another thread's timer is left alone.
      if (!self->checker_.IsCurrent())
        return 0;
      VC_DCHECK_RUN_ON(&self->checker_);
      if (self->timer_window_ != window) {
        // A stale link to a timer that lives in another window: forget it.
        plat::SetWindowLongPtr(window, plat::GWL_USERDATA, 0);
        return 0;
      }
      if (self->ticks_held_)
        return 0;
      try {
        self->OnTimer();
      } catch (const std::runtime_error&) {
        // A failed tick must not end the host's message loop; the next one tries again.
      }
      return 0;
    }
    case plat::WM_DESTROY:
      plat::SetWindowLongPtr(window, plat::GWL_USERDATA, 0);
      return plat::DefWindowProc(window, message, wparam, lparam);
    default:
      return plat::DefWindowProc(window, message, wparam, lparam);
  }
}

}  // namespace ksn
