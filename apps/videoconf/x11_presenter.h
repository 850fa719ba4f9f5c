// Mirrors host windows into real X11 windows, so that the program's
// pictures can be seen on a screen (--x11). Built only where Xlib is available.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "plat/handles.h"

namespace videoconf_app {

class X11Presenter {
 public:
  // Connects to $DISPLAY; null with `error` set when there is none. New
  // windows are laid out left to right from (origin_x, origin_y).
  static std::unique_ptr<X11Presenter> Open(int origin_x, int origin_y, std::string* error);
  ~X11Presenter();
  X11Presenter(const X11Presenter&) = delete;
  X11Presenter& operator=(const X11Presenter&) = delete;

  // Copies the host window's client area into its X11 window, made (and
  // titled) on first use. False for a window that has no pixels.
  bool Present(plat::HWND window, const std::string& title);

 private:
  struct Impl;
  explicit X11Presenter(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace videoconf_app
