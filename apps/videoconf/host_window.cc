#include "host_window.h"

#include "plat/window.h"

namespace videoconf_app {
namespace {

constexpr char kClassName[] = "VideoConfHostWindow";

// The module paints straight into the surface; nothing else to handle.
bool RegisterOnce() {
  static const bool registered = [] {
    plat::WNDCLASS wc;
    wc.lpfnWndProc = &plat::DefWindowProc;
    wc.hInstance = plat::GetModuleHandle(nullptr);
    wc.lpszClassName = kClassName;
    return plat::RegisterClass(&wc) != 0;
  }();
  return registered;
}

}  // namespace

HostWindow::HostWindow(const std::string& title, int width, int height) : title_(title) {
  if (RegisterOnce()) {
    hwnd_ = plat::CreateWindow(kClassName, title.c_str(), plat::WS_VISIBLE, 0, 0, width, height, 0,
                               nullptr, plat::GetModuleHandle(nullptr), nullptr);
  }
}

HostWindow::~HostWindow() {
  if (hwnd_ != 0) {
    plat::DestroyWindow(hwnd_);
  }
}

}  // namespace videoconf_app
