#include "support/host_window.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "display/first_frame_message.h"
#include "plat/gdi.h"
#include "plat/message.h"
#include "plat/window.h"

namespace vc_test {
namespace {

constexpr const char* kClassName = "display_test_window";

const char* WindowClass() {
  static const bool registered = [] {
    plat::WNDCLASS wc;
    wc.lpfnWndProc = plat::DefWindowProc;
    wc.hInstance = plat::GetModuleHandle(nullptr);
    wc.lpszClassName = kClassName;
    return plat::RegisterClass(&wc) != 0;
  }();
  EXPECT_TRUE(registered);
  return kClassName;
}

}  // namespace

HostWindow::HostWindow(int width, int height, plat::DWORD style) {
  hwnd_ = plat::CreateWindow(WindowClass(), "video", style, 0, 0, width, height, 0, nullptr,
                             plat::GetModuleHandle(nullptr), nullptr);
  EXPECT_NE(hwnd_, 0u);
}

HostWindow::~HostWindow() {
  Destroy();
}

void HostWindow::Destroy() {
  if (hwnd_ != 0 && plat::IsWindow(hwnd_))
    plat::DestroyWindow(hwnd_);
}

bool Surface::all_zero() const {
  return std::all_of(pixels.begin(), pixels.end(), [](std::uint32_t p) { return p == 0; });
}

Surface ReadSurface(plat::HWND hwnd) {
  Surface s;
  EXPECT_TRUE(plat::ReadWindowPixels(hwnd, &s.pixels, &s.width, &s.height));
  EXPECT_EQ(s.pixels.size(), static_cast<std::size_t>(s.width) * s.height);
  return s;
}

std::vector<plat::HWND> TakeFirstFrameNotices() {
  std::vector<plat::HWND> notices;
  plat::MSG msg;
  while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
    if (msg.message != kalo::video::WM_FIRST_FRAME)
      continue;
    EXPECT_EQ(msg.wParam, 0u);
    EXPECT_EQ(msg.lParam, 0);
    notices.push_back(msg.hwnd);
  }
  return notices;
}

Picture::Picture(int width, int height, int seed, int stride_bytes)
    : width_(width),
      height_(height),
      stride_(stride_bytes == 0 ? 4 * width : stride_bytes),
      words_(static_cast<std::size_t>(stride_ / 4) * height, 0xDEADBEEFu) {
  for (int row = 0; row < height; ++row) {
    for (int col = 0; col < width; ++col) {
      at(col, row) = 0xA5000000u | static_cast<std::uint32_t>(seed & 0xF) << 20 |
                     static_cast<std::uint32_t>(row) << 10 | static_cast<std::uint32_t>(col);
    }
  }
}

std::uint32_t& Picture::at(int col, int row) {
  return words_[static_cast<std::size_t>(row) * (stride_ / 4) + col];
}

std::uint32_t Picture::at(int col, int row) const {
  return words_[static_cast<std::size_t>(row) * (stride_ / 4) + col];
}

VideoFrame Picture::frame() {
  VideoFrame f;
  f.data = reinterpret_cast<std::uint8_t*>(words_.data());
  f.stride = stride_;
  f.width = width_;
  f.height = height_;
  f.timestamp = 1234;
  return f;
}

namespace {

// The window pixel (x, y from the top) for `src` scaled to width x height.
std::uint32_t ExpectedPixel(const Picture& src, int width, int height, int x, int y) {
  const std::int64_t x_step = (std::int64_t{src.width()} * 65536) / width + 1;
  const std::int64_t y_step = (std::int64_t{src.height()} * 65536) / height + 1;
  const int memory_row = height - 1 - y;
  const auto col = std::min<std::int64_t>((x * x_step) >> 16, src.width() - 1);
  const auto row = std::min<std::int64_t>((memory_row * y_step) >> 16, src.height() - 1);
  return src.at(static_cast<int>(col), static_cast<int>(row)) & 0x00FFFFFFu;
}

}  // namespace

void ExpectShows(plat::HWND hwnd, const Picture& src, int width, int height) {
  const Surface s = ReadSurface(hwnd);
  ASSERT_EQ(s.width, width);
  ASSERT_EQ(s.height, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      ASSERT_EQ(s.at(x, y), ExpectedPixel(src, width, height, x, y))
          << "window " << hwnd << " pixel (" << x << ", " << y << ") from the top";
    }
  }
}

}  // namespace vc_test
