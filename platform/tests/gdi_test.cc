// Painting into host windows and reading back: orientation, origins, scan
// line subsets, clipping, regions, resizing, bad arguments, and a read-back
// from another thread while the owner paints.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "plat/plat.h"
#include "test_window.h"

namespace {

using plat_test::Recorder;
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
  void SetUp() override {
    hwnd_ = cls_.Create(&recorder_, plat::WS_VISIBLE, 4, 3);
    ASSERT_NE(hwnd_, 0u);
  }
  void TearDown() override {
    plat::DestroyWindow(hwnd_);
    plat_test::PumpAll();
  }

  int Paint(int x_dest, int y_dest, std::uint32_t w, std::uint32_t h, int x_src, int y_src,
            std::uint32_t start, const Dib& dib) {
    return plat::SetDIBitsToDevice(plat::GetDC(hwnd_), x_dest, y_dest, w, h, x_src, y_src, start,
                                   dib.lines, dib.data(), &dib.bmi, plat::DIB_RGB_COLORS);
  }

  TestClass cls_;
  Recorder recorder_;
  plat::HWND hwnd_ = 0;
};

TEST_F(GdiTest, BottomUpRowsLandUpsideDown) {
  const Dib dib(4, 3, false, 0, 3);
  EXPECT_EQ(Paint(0, 0, 4, 3, 0, 0, 0, dib), 3);
  const Pixels p = Read(hwnd_);
  ASSERT_EQ(p.width, 4);
  ASSERT_EQ(p.height, 3);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(p.at(x, y), Dib::Value(2 - y, x)) << x << "," << y;
  }
}

TEST_F(GdiTest, TopDownRowsLandAsTheyAre) {
  const Dib dib(4, 3, true, 0, 3);
  EXPECT_EQ(Paint(0, 0, 4, 3, 0, 0, 0, dib), 3);
  const Pixels p = Read(hwnd_);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(p.at(x, y), Dib::Value(y, x));
  }
}

TEST_F(GdiTest, DestinationAndSourceOriginsAndClipping) {
  // A 2x2 part from column 1, scan lines 1..2 (counted from the bottom), at (3, 1).
  const Dib dib(4, 3, false, 0, 3);
  EXPECT_EQ(Paint(3, 1, 2, 2, 1, 1, 0, dib), 2);
  const Pixels p = Read(hwnd_);
  EXPECT_EQ(p.at(3, 1), Dib::Value(2, 1));  // top of the part is its higher scan line
  EXPECT_EQ(p.at(3, 2), Dib::Value(1, 1));
  EXPECT_EQ(p.at(2, 1), 0u);
  EXPECT_EQ(p.at(3, 0), 0u);
}

TEST_F(GdiTest, OnlyTheSuppliedScanLinesArePainted) {
  // Scan lines 1 and 2 of a 3-line bottom-up bitmap: the top two client rows.
  const Dib dib(4, 3, false, 1, 2);
  EXPECT_EQ(Paint(0, 0, 4, 3, 0, 0, 1, dib), 2);
  const Pixels p = Read(hwnd_);
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(p.at(x, 0), Dib::Value(2, x));
    EXPECT_EQ(p.at(x, 1), Dib::Value(1, x));
    EXPECT_EQ(p.at(x, 2), 0u);
  }
}

TEST_F(GdiTest, NegativeOriginsClipAtTheClientEdges) {
  const Dib dib(4, 3, true, 0, 3);
  EXPECT_EQ(Paint(-2, -1, 4, 3, 0, 0, 0, dib), 3);
  const Pixels p = Read(hwnd_);
  EXPECT_EQ(p.at(0, 0), Dib::Value(1, 2));
  EXPECT_EQ(p.at(1, 1), Dib::Value(2, 3));
  EXPECT_EQ(p.at(2, 0), 0u);
  EXPECT_EQ(p.at(0, 2), 0u);
}

TEST_F(GdiTest, TheFourthByteReadsZero) {
  const Dib dib(4, 3, true, 0, 3);
  Paint(0, 0, 4, 3, 0, 0, 0, dib);
  for (std::uint32_t pixel : Read(hwnd_).data)
    EXPECT_EQ(pixel & 0xFF000000u, 0u);
}

TEST_F(GdiTest, RegionClipsPaintingAndReadBack) {
  const Dib dib(4, 3, true, 0, 3);
  Paint(0, 0, 4, 3, 0, 0, 0, dib);
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
  const Dib other(4, 3, false, 0, 3);
  Paint(0, 0, 4, 3, 0, 0, 0, other);
  ASSERT_EQ(plat::SetWindowRgn(hwnd_, nullptr, true), 1);
  p = Read(hwnd_);
  EXPECT_EQ(p.at(0, 0), 0u);
  EXPECT_EQ(p.at(1, 0), Dib::Value(2, 1));
  EXPECT_EQ(p.at(3, 2), 0u);
}

TEST_F(GdiTest, ZeroSizeClientAreasPaintNothing) {
  ASSERT_TRUE(plat::SetClientSize(hwnd_, 0, 5));
  const Dib dib(4, 3, true, 0, 3);
  EXPECT_EQ(Paint(0, 0, 4, 3, 0, 0, 0, dib), 3);
  const Pixels p = Read(hwnd_);
  EXPECT_EQ(p.width, 0);
  EXPECT_EQ(p.height, 5);
  EXPECT_TRUE(p.data.empty());
}

TEST_F(GdiTest, ResizeClearsAndChangesTheSurface) {
  const Dib dib(4, 3, true, 0, 3);
  Paint(0, 0, 4, 3, 0, 0, 0, dib);
  ASSERT_TRUE(plat::SetClientSize(hwnd_, 6, 2));
  Pixels p = Read(hwnd_);
  EXPECT_EQ(p.width, 6);
  EXPECT_EQ(p.height, 2);
  for (std::uint32_t pixel : p.data)
    EXPECT_EQ(pixel, 0u);
  Paint(2, 0, 4, 3, 0, 0, 0, dib);
  p = Read(hwnd_);
  EXPECT_EQ(p.at(5, 1), Dib::Value(1, 3));
}

TEST_F(GdiTest, BadArgumentsPaintNothing) {
  const Dib dib(4, 3, true, 0, 3);
  const plat::HDC dc = plat::GetDC(hwnd_);
  auto paint = [&](const plat::BITMAPINFO* bmi, const void* bits, plat::UINT use = 0) {
    return plat::SetDIBitsToDevice(dc, 0, 0, 4, 3, 0, 0, 0, 3, bits, bmi, use);
  };
  EXPECT_EQ(paint(nullptr, dib.data()), 0);
  EXPECT_EQ(paint(&dib.bmi, nullptr), 0);
  EXPECT_EQ(paint(&dib.bmi, dib.data(), 1), 0);
  for (auto change : {+[](plat::BITMAPINFOHEADER& h) { h.biBitCount = 24; },
                      +[](plat::BITMAPINFOHEADER& h) { h.biCompression = 3; },
                      +[](plat::BITMAPINFOHEADER& h) { h.biWidth = -4; },
                      +[](plat::BITMAPINFOHEADER& h) { h.biWidth = 0; },
                      +[](plat::BITMAPINFOHEADER& h) { h.biHeight = 0; },
                      +[](plat::BITMAPINFOHEADER& h) { h.biSize = 12; }}) {
    plat::BITMAPINFO bmi = dib.bmi;
    change(bmi.bmiHeader);
    EXPECT_EQ(paint(&bmi, dib.data()), 0);
  }
  // Lines that no buffer could hold.
  plat::BITMAPINFO wide = dib.bmi;
  wide.bmiHeader.biWidth = INT_MAX;
  EXPECT_EQ(plat::SetDIBitsToDevice(dc, 0, 0, 4, 3, 0, 0, 0, UINT_MAX, dib.data(), &wide, 0), 0);
  for (std::uint32_t pixel : Read(hwnd_).data)
    EXPECT_EQ(pixel, 0u);

  Recorder recorder;
  const plat::HWND hidden = cls_.Create(&recorder);
  EXPECT_EQ(
      plat::SetDIBitsToDevice(plat::GetDC(hidden), 0, 0, 4, 3, 0, 0, 0, 3, dib.data(), &dib.bmi, 0),
      0);
  std::vector<std::uint32_t> pixels;
  int w = 0;
  int h = 0;
  EXPECT_FALSE(plat::ReadWindowPixels(hidden, &pixels, &w, &h));
  EXPECT_FALSE(plat::ReadWindowPixels(hwnd_, nullptr, &w, &h));
  plat::DestroyWindow(hidden);
  EXPECT_EQ(plat::SetDIBitsToDevice(static_cast<plat::HDC>(hidden), 0, 0, 4, 3, 0, 0, 0, 3,
                                    dib.data(), &dib.bmi, 0),
            0);
  EXPECT_FALSE(plat::ReadWindowPixels(hidden, &pixels, &w, &h));
}

TEST_F(GdiTest, DeviceContextAndPaintBrackets) {
  EXPECT_EQ(plat::GetDC(hwnd_), static_cast<plat::HDC>(hwnd_));
  EXPECT_EQ(plat::ReleaseDC(hwnd_, plat::GetDC(hwnd_)), 1);
  EXPECT_EQ(plat::GetDC(0), plat::HDC::none);
  plat::PAINTSTRUCT ps;
  EXPECT_EQ(plat::BeginPaint(hwnd_, &ps), static_cast<plat::HDC>(hwnd_));
  EXPECT_EQ(ps.rcPaint.right, 4);
  EXPECT_EQ(ps.rcPaint.bottom, 3);
  EXPECT_TRUE(plat::EndPaint(hwnd_, &ps));
  EXPECT_EQ(plat::BeginPaint(hwnd_, nullptr), plat::HDC::none);
  EXPECT_FALSE(plat::EndPaint(hwnd_, nullptr));
  Recorder recorder;
  const plat::HWND dead = cls_.Create(&recorder);
  plat::DestroyWindow(dead);
  EXPECT_EQ(plat::GetDC(dead), plat::HDC::none);
  EXPECT_EQ(plat::BeginPaint(dead, &ps), plat::HDC::none);
  EXPECT_FALSE(plat::EndPaint(dead, &ps));
}

// Every combination of origins, sizes and scan ranges, checked pixel by pixel
// against the rule written from the destination's side: a pixel (x, y) of
// the client area shows source column x - x_dest + x_src and the scan line
// that row y of the destination rectangle shows. The bitmap buffers hold
// exactly the supplied lines, so a read outside them fails under ASan.
TEST_F(GdiTest, AnyPlacementMatchesTheReferenceRule) {
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

    const std::int64_t scan_lo = std::max({start, y_src, std::int64_t{0}});
    const std::int64_t scan_hi = std::min({start + lines, y_src + h, std::int64_t{dh}});
    ASSERT_EQ(result, std::max<std::int64_t>(scan_hi - scan_lo, 0)) << "round " << round;

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
}

TEST_F(GdiTest, AHostThreadReadsWholeFramesWhileTheOwnerPaints) {
  ASSERT_TRUE(plat::SetClientSize(hwnd_, 64, 64));
  std::vector<std::uint8_t> red(64 * 64 * 4);
  std::vector<std::uint8_t> blue(64 * 64 * 4);
  for (std::size_t i = 0; i < red.size(); i += 4) {
    red[i + 2] = 0xFF;
    blue[i] = 0xFF;
  }
  plat::BITMAPINFO bmi;
  bmi.bmiHeader.biWidth = 64;
  bmi.bmiHeader.biHeight = 64;
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    std::vector<std::uint32_t> pixels;
    int w = 0;
    int h = 0;
    while (!done) {
      if (!plat::ReadWindowPixels(hwnd_, &pixels, &w, &h))
        continue;
      for (std::uint32_t pixel : pixels) {
        if (pixel != pixels.front()) {
          ++torn;
          break;
        }
      }
    }
  });
  for (int i = 0; i < 500; ++i) {
    const auto& frame = i % 2 == 0 ? red : blue;
    plat::SetDIBitsToDevice(plat::GetDC(hwnd_), 0, 0, 64, 64, 0, 0, 0, 64, frame.data(), &bmi,
                            plat::DIB_RGB_COLORS);
  }
  done = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}

}  // namespace
