#include "owner_dispatch.h"

#include <map>
#include <mutex>
#include <string>

#include "plat/message.h"
#include "plat/window.h"

namespace ksn {
namespace {

constexpr plat::UINT kWakeMessage = plat::WM_USER + 0x4B5;

std::mutex g_mutex;
std::map<plat::HWND, std::weak_ptr<WakeTarget>>& Targets() {
  static std::map<plat::HWND, std::weak_ptr<WakeTarget>> targets;
  return targets;
}

plat::LRESULT WakeWindowProc(plat::HWND hwnd, plat::UINT message, plat::WPARAM wparam,
                             plat::LPARAM lparam) {
  if (message == kWakeMessage) {
    std::shared_ptr<WakeTarget> target;
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      const auto it = Targets().find(hwnd);
      if (it != Targets().end())
        target = it->second.lock();
    }
    if (target)
      target->OnWake(hwnd);
    return 0;
  }
  if (message == plat::WM_DESTROY) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Targets().erase(hwnd);
  }
  return plat::DefWindowProc(hwnd, message, wparam, lparam);
}

// Each copy of this code (the shared library, a test's static copy) has a
// class of its own, named after its own window procedure.
const std::string& ClassName() {
  static const std::string name = [] {
    std::string text =
        "ksn_wake_" + std::to_string(reinterpret_cast<std::uintptr_t>(&WakeWindowProc));
    plat::WNDCLASS wc;
    wc.lpfnWndProc = &WakeWindowProc;
    wc.hInstance = plat::GetModuleHandle(nullptr);
    wc.lpszClassName = text.c_str();
    plat::RegisterClass(&wc);
    return text;
  }();
  return name;
}

}  // namespace

plat::HWND CreateWakeWindow(std::weak_ptr<WakeTarget> target) {
  const std::string& class_name = ClassName();
  const plat::HWND hwnd = plat::CreateWindow(class_name.c_str(), class_name.c_str(), 0, 0, 0, 0, 0,
                                             0, nullptr, plat::GetModuleHandle(nullptr), nullptr);
  if (hwnd) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Targets()[hwnd] = std::move(target);
  }
  return hwnd;
}

bool PostWake(plat::HWND window) {
  return plat::PostMessage(window, kWakeMessage, 0, 0);
}

void ReleaseWakeWindow(plat::HWND window) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    Targets().erase(window);
  }
  if (plat::GetWindowThreadProcessId(window, nullptr) == plat::GetCurrentThreadId())
    plat::DestroyWindow(window);
}

plat::HWND WakeWindows::ForThisThread(const std::weak_ptr<WakeTarget>& target) {
  const plat::DWORD thread = plat::GetCurrentThreadId();
  {
    MutexLock lock(mutex_);
    const auto it = windows_.find(thread);
    if (it != windows_.end())
      return it->second;
  }
  // Only this thread makes its own window, so nobody races us to it.
  const plat::HWND window = CreateWakeWindow(target);
  if (!window)
    return 0;
  MutexLock lock(mutex_);
  windows_[thread] = window;
  posted_[window] = false;
  return window;
}

void WakeWindows::Wake(plat::HWND window) {
  MutexLock lock(mutex_);
  auto it = posted_.find(window);
  if (it == posted_.end() || it->second)
    return;
  it->second = PostWake(window);
}

void WakeWindows::Woken(plat::HWND window) {
  MutexLock lock(mutex_);
  const auto it = posted_.find(window);
  if (it != posted_.end())
    it->second = false;
}

std::vector<plat::HWND> WakeWindows::TakeAll() {
  MutexLock lock(mutex_);
  std::vector<plat::HWND> windows;
  for (const auto& [thread, window] : windows_)
    windows.push_back(window);
  windows_.clear();
  posted_.clear();
  return windows;
}

}  // namespace ksn
