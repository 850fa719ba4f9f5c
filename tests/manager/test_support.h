// Temporary directories, the fake library's journal and message pumping for
// the manager's tests.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "plat/message.h"
#include "plat/window.h"

namespace vc_test {

// A fresh directory, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vc_manager_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr)
      path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty())
      std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The fake peer-network library's journal, one event per element.
inline std::vector<std::string> ReadJournal(const std::filesystem::path& path) {
  std::vector<std::string> events;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    events.push_back(line);
  return events;
}

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
