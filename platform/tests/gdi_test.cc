// Painting into host windows (device contexts are the window handles) and
// reading back: any placement against the rule, through regions; bad bitmaps.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "plat/plat.h"
#include "test_window.h"

namespace {

using plat_test::TestClass;

// A 32-bit bitmap of only the scan lines [first, first + lines); the pixel at
// scan line s (in memory order), column c is Value(s, c) and noise in byte 4.
struct Dib {
  static std::uint32_t Value(std::int64_t scan, std::int64_t col) {
    return static_cast<std::uint32_t>(((scan + 1) << 12) | (col + 1));
  }
  Dib(int width, int height, bool top_down, std::uint32_t first, std::uint32_t lines) {
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = top_down ? -height : height;
    bits.resize(static_cast<std::size_t>(lines) * 4 * width);
    for (std::uint32_t r = 0; r < lines; ++r) {
      for (int c = 0; c < width; ++c) {
        const std::uint32_t pixel = Value(first + r, c) | 0xAB000000u;
        std::memcpy(&bits[(static_cast<std::size_t>(r) * width + c) * 4], &pixel, 4);
      }
    }
  }
  const void* data() const { return bits.empty() ? nullptr : bits.data(); }

  plat::BITMAPINFO bmi;
  std::vector<std::uint8_t> bits;
};

std::vector<std::uint32_t> Read(plat::HWND hwnd, int width, int height) {
  std::vector<std::uint32_t> pixels;
  int w = -1, h = -1;
  EXPECT_TRUE(plat::ReadWindowPixels(hwnd, &pixels, &w, &h) && w == width && h == height);
  return pixels;
}

class GdiTest : public ::testing::Test {
 protected:
  void TearDown() override {
    plat::DestroyWindow(hwnd_);
    plat_test::PumpAll();
  }
  TestClass cls_;
  const plat::HWND hwnd_ = cls_.Create(nullptr, plat::WS_VISIBLE, 4, 3);
};

TEST_F(GdiTest, BitmapsItCannotReadPaintNothing) {
  const Dib dib(4, 3, true, 0, 3);
  auto paint = [&](const plat::BITMAPINFO* bmi, const void* bits, plat::UINT use = 0) {
    return plat::SetDIBitsToDevice(plat::GetDC(hwnd_), 0, 0, 4, 3, 0, 0, 0,
                                   bmi && bmi->bmiHeader.biWidth == INT_MAX ? UINT_MAX : 3, bits,
                                   bmi, use);
  };
  EXPECT_EQ(paint(nullptr, dib.data()) + paint(&dib.bmi, nullptr) + paint(&dib.bmi, dib.data(), 1),
            0);
  for (auto change : {+[](plat::BITMAPINFOHEADER& h) { h.biBitCount = 24; },
                      +[](plat::BITMAPINFOHEADER& h) { h.biCompression = 3; },
                      +[](plat::BITMAPINFOHEADER& h) { h.biWidth = -4; },
                      +[](plat::BITMAPINFOHEADER& h) { h.biWidth = 0; },
                      +[](plat::BITMAPINFOHEADER& h) { h.biHeight = 0; },
                      +[](plat::BITMAPINFOHEADER& h) { h.biSize = 12; },
                      // Lines that no buffer could hold.
                      +[](plat::BITMAPINFOHEADER& h) { h.biWidth = INT_MAX; }}) {
    plat::BITMAPINFO bmi = dib.bmi;
    change(bmi.bmiHeader);
    EXPECT_EQ(paint(&bmi, dib.data()), 0);
  }
  EXPECT_EQ(Read(hwnd_, 4, 3), std::vector<std::uint32_t>(12, 0));
}

// Every combination of origins, sizes, scan ranges and clipping rectangles,
// checked pixel by pixel against the rule from the destination's side: pixel
// (x, y) shows source column x - x_dest + x_src and the scan line row y of the
// destination rectangle shows. Bitmaps hold just the supplied lines (for ASan).
TEST_F(GdiTest, AnyPlacementMatchesTheReferenceRule) {
  std::mt19937 rng(1234);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 3000; ++round) {
    const int cw = pick(0, 9), ch = pick(0, 9);
    ASSERT_TRUE(plat::SetClientSize(hwnd_, cw, ch));
    const bool with_region = pick(0, 3) == 0;
    const int rl = pick(-2, 8), rt = pick(-2, 8), rr = pick(-2, 10), rb = pick(-2, 10);
    plat::SetWindowRgn(hwnd_, with_region ? plat::CreateRectRgn(rl, rt, rr, rb) : nullptr, true);
    const int dw = pick(1, 8), dh = pick(1, 8);
    const bool top_down = pick(0, 1) == 1;
    // Half the region rounds paint the whole bitmap at the origin: the region decides.
    const bool whole = with_region && pick(0, 1) == 1;
    auto or_whole = [&](std::int64_t v, std::int64_t if_whole) { return whole ? if_whole : v; };
    const std::int64_t x_dest = or_whole(pick(0, 9) == 0 ? INT_MIN : pick(-8, 12), 0);
    const std::int64_t y_dest = or_whole(pick(0, 9) == 0 ? INT_MAX : pick(-8, 12), 0);
    const std::int64_t w = or_whole(pick(0, 9) == 0 ? UINT_MAX : pick(0, 12), dw);
    const std::int64_t h = or_whole(pick(0, 9) == 0 ? UINT_MAX : pick(0, 12), dh);
    const std::int64_t x_src = or_whole(pick(0, 19) == 0 ? INT_MIN : pick(-6, 10), 0);
    const std::int64_t y_src = or_whole(pick(0, 19) == 0 ? INT_MAX : pick(-6, 10), 0);
    const std::int64_t start = or_whole(pick(0, 19) == 0 ? UINT_MAX : pick(0, 9), 0);
    const auto lines = static_cast<std::uint32_t>(or_whole(pick(0, 9), dh));
    const Dib dib(dw, dh, top_down, static_cast<std::uint32_t>(start), lines);
    const int result = plat::SetDIBitsToDevice(
        plat::GetDC(hwnd_), static_cast<int>(x_dest), static_cast<int>(y_dest),
        static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), static_cast<int>(x_src),
        static_cast<int>(y_src), static_cast<std::uint32_t>(start), lines, dib.data(), &dib.bmi,
        plat::DIB_RGB_COLORS);
    // The scan lines both supplied and inside the source rectangle.
    const std::int64_t scans = std::min({start + lines, y_src + h, std::int64_t{dh}}) -
                               std::max({start, y_src, std::int64_t{0}});
    ASSERT_EQ(result, std::max<std::int64_t>(scans, 0)) << "round " << round;

    const std::vector<std::uint32_t> shown = Read(hwnd_, cw, ch);
    for (int y = 0; y < ch; ++y) {
      for (int x = 0; x < cw; ++x) {
        std::uint32_t expected = 0;
        const std::int64_t dx = x - x_dest, dy = y - y_dest;
        const bool in_region = !with_region || (x >= std::min(rl, rr) && x < std::max(rl, rr) &&
                                                y >= std::min(rt, rb) && y < std::max(rt, rb));
        if (in_region && dx >= 0 && dx < w && dy >= 0 && dy < h) {
          const std::int64_t col = x_src + dx;
          const std::int64_t scan = top_down ? y_src + dy : y_src + (h - 1 - dy);
          if (col >= 0 && col < dw && scan >= 0 && scan < dh && scan >= start &&
              scan < start + lines) {
            expected = Dib::Value(scan, col);
          }
        }
        ASSERT_EQ(shown[y * cw + x], expected) << "round " << round << " pixel " << x << "," << y;
      }
    }
  }
}

}  // namespace
