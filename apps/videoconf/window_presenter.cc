#include "window_presenter.h"

#ifdef VC_HAVE_X11
#include "x11_presenter.h"
#endif

namespace videoconf_app {

#ifdef VC_HAVE_X11
namespace {

class X11WindowPresenter final : public WindowPresenter {
 public:
  explicit X11WindowPresenter(std::unique_ptr<X11Presenter> presenter)
      : presenter_(std::move(presenter)) {}
  void Show(plat::HWND window, const std::string& title) override {
    presenter_->Present(window, title);
  }

 private:
  std::unique_ptr<X11Presenter> presenter_;
};

}  // namespace

std::unique_ptr<WindowPresenter> MakeX11Presenter(int row, std::string* error) {
  // Rows of windows 300 pixels apart keep two peers on one screen apart.
  std::unique_ptr<X11Presenter> presenter = X11Presenter::Open(0, row * 300, error);
  if (!presenter) {
    return nullptr;
  }
  return std::make_unique<X11WindowPresenter>(std::move(presenter));
}
#else
std::unique_ptr<WindowPresenter> MakeX11Presenter(int, std::string* error) {
  *error = "this build has no X11 support: install libx11-dev and build again";
  return nullptr;
}
#endif

}  // namespace videoconf_app
