#include "x11_presenter.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <vector>

#include "plat/gdi.h"

namespace videoconf_app {

struct X11Presenter::Impl {
  struct Shown {
    Window window = 0;
    int width = 0;
    int height = 0;
  };

  Display* display = nullptr;
  int next_x = 0;
  int origin_y = 0;
  std::map<plat::HWND, Shown> shown;
  std::vector<std::uint32_t> pixels;

  ~Impl() {
    for (const auto& [hwnd, s] : shown) {
      XDestroyWindow(display, s.window);
    }
    XCloseDisplay(display);
  }

  // The X window for `hwnd` at the given size; remade when the size changed.
  Shown* WindowFor(plat::HWND hwnd, const std::string& title, int width, int height) {
    Shown& s = shown[hwnd];
    if (s.window != 0 && (s.width != width || s.height != height)) {
      XDestroyWindow(display, s.window);
      s.window = 0;
    }
    if (s.window == 0) {
      const int screen = DefaultScreen(display);
      s.window = XCreateSimpleWindow(display, RootWindow(display, screen), next_x, origin_y,
                                     static_cast<unsigned>(width), static_cast<unsigned>(height), 0,
                                     BlackPixel(display, screen), BlackPixel(display, screen));
      next_x += width + 8;
      s.width = width;
      s.height = height;
      XStoreName(display, s.window, title.c_str());
      XMapWindow(display, s.window);
    }
    return &s;
  }
};

X11Presenter::X11Presenter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
X11Presenter::~X11Presenter() = default;

std::unique_ptr<X11Presenter> X11Presenter::Open(int origin_x, int origin_y, std::string* error) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    *error = "cannot open the X display '" + std::string(XDisplayName(nullptr)) +
             "': set DISPLAY, or run without --x11";
    return nullptr;
  }
  const Visual* visual = DefaultVisual(display, DefaultScreen(display));
  // Our pixels are 0x00RRGGBB words; only a 24-bit true-colour screen takes them as they are.
  if (DefaultDepth(display, DefaultScreen(display)) != 24 || visual->red_mask != 0xFF0000u ||
      visual->blue_mask != 0xFFu) {
    XCloseDisplay(display);
    *error = "the X display is not 24-bit true colour; run Xvfb with -screen 0 WxHx24";
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  impl->display = display;
  impl->next_x = origin_x;
  impl->origin_y = origin_y;
  return std::unique_ptr<X11Presenter>(new X11Presenter(std::move(impl)));
}

bool X11Presenter::Present(plat::HWND window, const std::string& title) {
  Impl& impl = *impl_;
  int width = 0;
  int height = 0;
  if (!plat::ReadWindowPixels(window, &impl.pixels, &width, &height) || width <= 0 || height <= 0) {
    return false;
  }
  const Impl::Shown* shown = impl.WindowFor(window, title, width, height);
  const int screen = DefaultScreen(impl.display);
  XImage* image =
      XCreateImage(impl.display, DefaultVisual(impl.display, screen), 24, ZPixmap, 0,
                   reinterpret_cast<char*>(impl.pixels.data()), static_cast<unsigned>(width),
                   static_cast<unsigned>(height), 32, width * 4);
  if (image == nullptr) {
    return false;
  }
  XPutImage(impl.display, shown->window, DefaultGC(impl.display, screen), image, 0, 0, 0, 0,
            static_cast<unsigned>(width), static_cast<unsigned>(height));
  // The pixels stay ours: XDestroyImage would free them.
  image->data = nullptr;
  XDestroyImage(image);
  // Nothing is asked of the events (the next Present repaints), but they must not pile up.
  while (XPending(impl.display) > 0) {
    XEvent event;
    XNextEvent(impl.display, &event);
  }
  XFlush(impl.display);
  return true;
}

}  // namespace videoconf_app
