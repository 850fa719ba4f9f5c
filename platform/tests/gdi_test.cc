// Painting into host windows and reading back: any placement against the
// rule, regions, bitmaps it cannot read, and a read-back from another thread
// while the owner paints. Device contexts are the window handles themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "plat/plat.h"
#include "test_window.h"

namespace {

using plat_test::TestClass;

// A 32-bit bitmap whose pixel at scan line s (rows counted in memory order),
// column c, is Value(s, c); the fourth byte is noise the surface must drop.
struct Dib {
  static std::uint32_t Value(std::int64_t scan, std::int64_t col) {
    return static_cast<std::uint32_t>(((scan + 1) << 12) | (col + 1));
  }

  // Only the scan lines [first, first + lines), as a caller would hand them.
  Dib(int width, int height, bool top_down, std::uint32_t first = 0, std::uint32_t lines = 0)
      : lines(lines) {
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
  std::uint32_t lines;
  std::vector<std::uint8_t> bits;  // exactly lines x 4 x width bytes
};

struct Pixels {
  std::vector<std::uint32_t> data;
  int width = -1;
  int height = -1;
  std::uint32_t at(int x, int y) const { return data[static_cast<std::size_t>(y) * width + x]; }
};

Pixels Read(plat::HWND hwnd) {
  Pixels p;
  EXPECT_TRUE(plat::ReadWindowPixels(hwnd, &p.data, &p.width, &p.height));
  return p;
}

class GdiTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(hwnd_ = cls_.Create(nullptr, plat::WS_VISIBLE, 4, 3), 0u); }
  void TearDown() override {
    plat::DestroyWindow(hwnd_);
    plat_test::PumpAll();
  }

  void PaintWhole(const Dib& dib) {
    plat::SetDIBitsToDevice(plat::GetDC(hwnd_), 0, 0, 4, 3, 0, 0, 0, 3, dib.data(), &dib.bmi, 0);
  }

  TestClass cls_;
  plat::HWND hwnd_ = 0;
};

TEST_F(GdiTest, ARegionClipsPaintingAndReadBack) {
  const Dib dib(4, 3, true, 0, 3);
  PaintWhole(dib);
  ASSERT_EQ(plat::SetWindowRgn(hwnd_, plat::CreateRectRgn(1, 0, 3, 2), true), 1);
  Pixels p = Read(hwnd_);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) {
      const bool inside = x >= 1 && x < 3 && y < 2;
      EXPECT_EQ(p.at(x, y), inside ? Dib::Value(y, x) : 0u) << x << "," << y;
    }
  }
  // Without the region the old pixels show again: painting through it changed only the inside.
  ASSERT_TRUE(plat::SetClientSize(hwnd_, 4, 3));  // cleared
  PaintWhole(Dib(4, 3, false, 0, 3));
  ASSERT_EQ(plat::SetWindowRgn(hwnd_, nullptr, true), 1);
  p = Read(hwnd_);
  EXPECT_EQ(p.at(0, 0), 0u);
  EXPECT_EQ(p.at(1, 0), Dib::Value(2, 1));
  EXPECT_EQ(p.at(3, 2), 0u);
}

TEST_F(GdiTest, BitmapsItCannotReadPaintNothing) {
  const Dib dib(4, 3, true, 0, 3);
  const plat::HDC dc = plat::GetDC(hwnd_);
  auto paint = [&](const plat::BITMAPINFO* bmi, const void* bits, plat::UINT use = 0,
                   plat::UINT lines = 3) {
    return plat::SetDIBitsToDevice(dc, 0, 0, 4, 3, 0, 0, 0, lines, bits, bmi, use);
  };
  EXPECT_EQ(paint(nullptr, dib.data()), 0);
  EXPECT_EQ(paint(&dib.bmi, nullptr), 0);
  EXPECT_EQ(paint(&dib.bmi, dib.data(), 1), 0);
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
    EXPECT_EQ(paint(&bmi, dib.data(), 0, bmi.bmiHeader.biWidth == INT_MAX ? UINT_MAX : 3), 0);
  }
  EXPECT_EQ(Read(hwnd_).data, std::vector<std::uint32_t>(12, 0));
  int w = 0;
  EXPECT_FALSE(plat::ReadWindowPixels(hwnd_, nullptr, &w, &w));
  EXPECT_EQ(plat::BeginPaint(hwnd_, nullptr), plat::HDC::none);
  EXPECT_FALSE(plat::EndPaint(hwnd_, nullptr));
}

// Every combination of origins, sizes and scan ranges, checked pixel by pixel
// against the rule from the destination's side: pixel (x, y) shows source column
// x - x_dest + x_src and the scan line row y of the destination rectangle shows.
// Bitmaps hold exactly the supplied lines (ASan sees reads past them). The count
// of scan lines is read from a probe window where the same lines and source
// rows, painted top-down and whole, land on the rows of their number.
TEST_F(GdiTest, AnyPlacementMatchesTheReferenceRule) {
  const plat::HWND probe = cls_.Create(nullptr, plat::WS_VISIBLE, 1, 1);
  std::mt19937 rng(1234);
  auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int round = 0; round < 3000; ++round) {
    const int cw = pick(0, 9);
    const int ch = pick(0, 9);
    ASSERT_TRUE(plat::SetClientSize(hwnd_, cw, ch));
    const bool with_region = pick(0, 3) == 0;
    const int rl = pick(-2, 8), rt = pick(-2, 8), rr = pick(-2, 10), rb = pick(-2, 10);
    plat::SetWindowRgn(hwnd_, with_region ? plat::CreateRectRgn(rl, rt, rr, rb) : nullptr, true);

    const int dw = pick(1, 8);
    const int dh = pick(1, 8);
    const bool top_down = pick(0, 1) == 1;
    const std::int64_t x_dest = pick(0, 9) == 0 ? INT_MIN : pick(-8, 12);
    const std::int64_t y_dest = pick(0, 9) == 0 ? INT_MAX : pick(-8, 12);
    const std::int64_t w = pick(0, 9) == 0 ? UINT_MAX : pick(0, 12);
    const std::int64_t h = pick(0, 9) == 0 ? UINT_MAX : pick(0, 12);
    const std::int64_t x_src = pick(0, 19) == 0 ? INT_MIN : pick(-6, 10);
    const std::int64_t y_src = pick(0, 19) == 0 ? INT_MAX : pick(-6, 10);
    const std::int64_t start = pick(0, 19) == 0 ? UINT_MAX : pick(0, 9);
    const auto lines = static_cast<std::uint32_t>(pick(0, 9));
    const Dib dib(dw, dh, top_down, static_cast<std::uint32_t>(start), lines);

    const int result = plat::SetDIBitsToDevice(
        plat::GetDC(hwnd_), static_cast<int>(x_dest), static_cast<int>(y_dest),
        static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), static_cast<int>(x_src),
        static_cast<int>(y_src), static_cast<std::uint32_t>(start), lines, dib.data(), &dib.bmi,
        plat::DIB_RGB_COLORS);

    ASSERT_TRUE(plat::SetClientSize(probe, dw, dh));
    const Dib whole(dw, dh, true, static_cast<std::uint32_t>(start), lines);
    plat::SetDIBitsToDevice(plat::GetDC(probe), 0, static_cast<int>(y_src), dw,
                            static_cast<std::uint32_t>(h), 0, static_cast<int>(y_src),
                            static_cast<std::uint32_t>(start), lines, whole.data(), &whole.bmi,
                            plat::DIB_RGB_COLORS);
    const Pixels shown = Read(probe);
    int scans = 0;
    for (int y = 0; y < dh; ++y)
      scans += shown.at(0, y) == Dib::Value(y, 0) ? 1 : 0;
    ASSERT_EQ(result, scans) << "round " << round;

    const Pixels p = Read(hwnd_);
    ASSERT_EQ(p.width, cw);
    ASSERT_EQ(p.height, ch);
    for (int y = 0; y < ch; ++y) {
      for (int x = 0; x < cw; ++x) {
        std::uint32_t expected = 0;
        const std::int64_t dx = x - x_dest;
        const std::int64_t dy = y - y_dest;
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
        ASSERT_EQ(p.at(x, y), expected) << "round " << round << " pixel " << x << "," << y;
      }
    }
  }
  plat::DestroyWindow(probe);
}

TEST_F(GdiTest, AHostThreadReadsWholeFramesWhileTheOwnerPaints) {
  ASSERT_TRUE(plat::SetClientSize(hwnd_, 64, 64));
  const std::vector<std::uint32_t> red(64 * 64, 0x00FF0000u);
  const std::vector<std::uint32_t> blue(64 * 64, 0x000000FFu);
  plat::BITMAPINFO bmi;
  bmi.bmiHeader.biWidth = bmi.bmiHeader.biHeight = 64;
  std::atomic<bool> done{false};
  int torn = 0;
  std::thread reader([&] {
    std::vector<std::uint32_t> pixels;
    int w = 0;
    while (!done) {
      if (plat::ReadWindowPixels(hwnd_, &pixels, &w, &w))
        torn += std::count(pixels.begin(), pixels.end(), pixels.front()) != 64 * 64 ? 1 : 0;
    }
  });
  for (int i = 0; i < 500; ++i) {
    plat::SetDIBitsToDevice(plat::GetDC(hwnd_), 0, 0, 64, 64, 0, 0, 0, 64,
                            (i % 2 == 0 ? red : blue).data(), &bmi, plat::DIB_RGB_COLORS);
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
