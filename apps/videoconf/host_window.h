// The program's own windows: host windows of the porting layer with a pixel
// surface the module paints into.
#pragma once

#include <string>

#include "plat/handles.h"

namespace videoconf_app {

class HostWindow {
 public:
  // A host window of `width` x `height` titled `title`; hwnd() is 0 on failure.
  HostWindow(const std::string& title, int width, int height);
  ~HostWindow();
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  plat::HWND hwnd() const { return hwnd_; }
  const std::string& title() const { return title_; }

 private:
  std::string title_;
  plat::HWND hwnd_ = 0;
};

}  // namespace videoconf_app
