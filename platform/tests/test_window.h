// Test windows whose procedure records what it receives and can react to it.
#pragma once

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "plat/plat.h"

namespace plat_test {

// What a window's procedure got, in order; `react` (if set) answers for it.
struct Recorder {
  std::vector<plat::MSG> calls;
  std::function<plat::LRESULT(plat::HWND, plat::UINT, plat::WPARAM, plat::LPARAM)> react;

  int Count(plat::UINT message) const {
    return static_cast<int>(std::count_if(
        calls.begin(), calls.end(), [&](const plat::MSG& c) { return c.message == message; }));
  }
};

// The recorder travels in CreateWindow's param and then in the user data.
inline plat::LRESULT RecordingProc(plat::HWND hwnd, plat::UINT message, plat::WPARAM wparam,
                                   plat::LPARAM lparam) {
  if (message == plat::WM_CREATE) {
    const auto* create = reinterpret_cast<const plat::CREATESTRUCT*>(lparam);
    plat::SetWindowLongPtr(hwnd, plat::GWL_USERDATA,
                           reinterpret_cast<plat::LONG_PTR>(create->lpCreateParams));
  }
  auto* recorder = reinterpret_cast<Recorder*>(plat::GetWindowLongPtr(hwnd, plat::GWL_USERDATA));
  if (recorder != nullptr)
    recorder->calls.push_back({hwnd, message, wparam, lparam, 0});
  if (recorder != nullptr && recorder->react)
    return recorder->react(hwnd, message, wparam, lparam);
  return plat::DefWindowProc(hwnd, message, wparam, lparam);
}

// A window class of its own for each test.
class TestClass {
 public:
  TestClass() : name_("plat_test_class_" + std::to_string(next_++)) {
    plat::WNDCLASS wc;
    wc.lpfnWndProc = RecordingProc;
    wc.hInstance = plat::GetModuleHandle(nullptr);
    wc.lpszClassName = name_.c_str();
    plat::RegisterClass(&wc);
  }
  ~TestClass() { plat::UnregisterClass(name_.c_str(), plat::GetModuleHandle(nullptr)); }

  const char* name() const { return name_.c_str(); }

  // A hidden window, or with WS_VISIBLE a host window of width x height.
  plat::HWND Create(Recorder* recorder = nullptr, plat::DWORD style = 0, int width = 0,
                    int height = 0) const {
    return plat::CreateWindow(name_.c_str(), "test window", style, 0, 0, width, height, 0, nullptr,
                              plat::GetModuleHandle(nullptr), recorder);
  }

 private:
  static inline std::atomic<int> next_{0};
  std::string name_;
};

// Dispatches every waiting message of the calling thread; returns how many.
inline int PumpAll() {
  int n = 0;
  for (plat::MSG msg; plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE); ++n)
    plat::DispatchMessage(&msg);
  return n;
}

// Whether the queue's descriptor (what a host's poll loop watches) is readable.
inline bool Readable(int timeout_ms = 0) {
  pollfd p{plat::GetQueueFd(), POLLIN, 0};
  return poll(&p, 1, timeout_ms) == 1 && (p.revents & POLLIN) != 0;
}

}  // namespace plat_test
