// Host windows of the porting layer and test pictures, for the display tests.
#pragma once

#include <cstdint>
#include <vector>

#include "common/video_frame.h"
#include "plat/types.h"

namespace vc_test {

// A host window (WS_VISIBLE: a client area and a pixel surface) or, with
// style 0, a hidden one; destroyed with the object unless destroyed before.
class HostWindow {
 public:
  HostWindow(int width, int height, plat::DWORD style = plat::WS_VISIBLE);
  ~HostWindow();
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  plat::HWND hwnd() const { return hwnd_; }
  void Destroy();

 private:
  plat::HWND hwnd_ = 0;
};

// A window's client area read back: top-down rows of 0x00RRGGBB.
struct Surface {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  // x from the left, y from the top.
  std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
  bool all_zero() const;
};
Surface ReadSurface(plat::HWND hwnd);

// Windows that received WM_FIRST_FRAME since the last call, in posting
// order; every other waiting message is taken too and dropped. Fails the
// current test on a notice whose wParam or lParam is not 0.
std::vector<plat::HWND> TakeFirstFrameNotices();

// A bottom-up 32-bit picture owned by the test. Pixel (col, row) counts rows
// in memory order, so row 0 is the bottom row of the picture.
class Picture {
 public:
  // Every pixel distinct: seed, row and column coded into the colour bytes
  // (up to 1024 x 1024), and a fourth byte the painter must ignore.
  Picture(int width, int height, int seed, int stride_bytes = 0);

  std::uint32_t& at(int col, int row);
  std::uint32_t at(int col, int row) const;
  int width() const { return width_; }
  int height() const { return height_; }
  VideoFrame frame();

 private:
  int width_;
  int height_;
  int stride_;
  std::vector<std::uint32_t> words_;
};

// Checks every pixel of the window against what nearest-neighbour scaling of
// `src` to a width x height client area puts there (16.16 steps with the +1,
// an index past the source's end taking its last column or row, rows in
// memory order, the first at the bottom); stops at the first difference.
void ExpectShows(plat::HWND hwnd, const Picture& src, int width, int height);

}  // namespace vc_test
