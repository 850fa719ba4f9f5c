// Shows host windows on a real screen (--x11); without it the windows exist
// only as the porting layer's surfaces.
#pragma once

#include <memory>
#include <string>

#include "plat/handles.h"

namespace videoconf_app {

class WindowPresenter {
 public:
  virtual ~WindowPresenter() = default;
  // Mirrors the window's current pixels into its on-screen window, titled `title`.
  virtual void Show(plat::HWND window, const std::string& title) = 0;
};

// The X11 presenter, its windows in row `row` of the screen; null with
// `error` set when this build has no X11 support or no display can be opened.
std::unique_ptr<WindowPresenter> MakeX11Presenter(int row, std::string* error);

}  // namespace videoconf_app
