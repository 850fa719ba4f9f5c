#include "display/paint_frame.h"

#include <gtest/gtest.h>

#include <new>

#include "support/failing_allocator.h"
#include "support/host_window.h"
#include "plat/window.h"

namespace {

using vc_test::ExpectShows;
using vc_test::HostWindow;
using vc_test::Picture;
using vc_test::ReadSurface;
using vc_test::Shown;
using vc_test::Surface;
using kalo::video::PaintFrame;

// --- Which windows are painted -------------------------------------------

TEST(PaintFrameTarget, NullHandleIsNotPainted) {
  Picture pic(4, 4, 1);
  EXPECT_FALSE(PaintFrame(0, pic.frame()));
}

TEST(PaintFrameTarget, DestroyedWindowIsNotPainted) {
  HostWindow window(8, 8);
  const plat::HWND hwnd = window.hwnd();
  window.Destroy();
  Picture pic(4, 4, 1);
  EXPECT_FALSE(PaintFrame(hwnd, pic.frame()));
}

TEST(PaintFrameTarget, ZeroSizedClientAreasCountAsPainted) {
  HostWindow none(0, 0);
  HostWindow no_width(0, 7);
  HostWindow no_height(7, 0);
  Picture pic(4, 4, 1);
  for (const HostWindow* w : {&none, &no_width, &no_height}) {
    EXPECT_TRUE(PaintFrame(w->hwnd(), pic.frame()));
    const Surface s = ReadSurface(w->hwnd());
    EXPECT_TRUE(s.pixels.empty());
  }
}

TEST(PaintFrameTarget, HiddenWindowCountsAsPainted) {
  HostWindow hidden(8, 8, 0);
  Picture pic(4, 4, 1);
  EXPECT_TRUE(PaintFrame(hidden.hwnd(), pic.frame()));
}

// --- The picture that reaches the window -----------------------------------

TEST(PaintFramePicture, DoubleSizeRepeatsEachPixelInATwoByTwoBlock) {
  HostWindow window(352, 288);
  Picture pic(176, 144, 3);
  ASSERT_TRUE(PaintFrame(window.hwnd(), pic.frame()));
  const Surface s = ReadSurface(window.hwnd());
  ASSERT_EQ(s.width, 352);
  ASSERT_EQ(s.height, 288);
  for (int y = 0; y < 288; ++y) {
    for (int x = 0; x < 352; ++x) {
      // Memory row 0 is the picture's bottom row, so the window's top row
      // shows the last memory row.
      ASSERT_EQ(s.at(x, y), Shown(pic.at(x / 2, (287 - y) / 2))) << x << ", " << y;
    }
  }
}

TEST(PaintFramePicture, HalfSizeTakesEverySecondPixelFromTheFirst) {
  HostWindow window(176, 144);
  Picture pic(352, 288, 4);
  ASSERT_TRUE(PaintFrame(window.hwnd(), pic.frame()));
  const Surface s = ReadSurface(window.hwnd());
  for (int y = 0; y < 144; ++y) {
    for (int x = 0; x < 176; ++x) {
      ASSERT_EQ(s.at(x, y), Shown(pic.at(2 * x, 2 * (143 - y)))) << x << ", " << y;
    }
  }
}

TEST(PaintFramePicture, FirstMemoryRowIsTheBottomRowOfTheWindow) {
  HostWindow window(4, 4);
  Picture pic(1, 2, 0);
  pic.at(0, 0) = 0xFF0000FF;  // blue, first in memory
  pic.at(0, 1) = 0xFFFF0000;  // red
  ASSERT_TRUE(PaintFrame(window.hwnd(), pic.frame()));
  const Surface s = ReadSurface(window.hwnd());
  for (int x = 0; x < 4; ++x) {
    EXPECT_EQ(s.at(x, 0), 0x00FF0000u);
    EXPECT_EQ(s.at(x, 1), 0x00FF0000u);
    EXPECT_EQ(s.at(x, 2), 0x000000FFu);
    EXPECT_EQ(s.at(x, 3), 0x000000FFu);
  }
}

TEST(PaintFramePicture, UnevenScalesFillTheWholeClientArea) {
  Picture pic(7, 5, 5);
  for (auto [w, h] : {std::pair{23, 11}, {3, 2}, {1, 1}, {7, 5}, {5, 9}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    HostWindow window(w, h);
    ASSERT_TRUE(PaintFrame(window.hwnd(), pic.frame()));
    ExpectShows(window.hwnd(), pic, w, h);
  }
}

TEST(PaintFramePicture, LargeEnlargementStaysInsideTheFrame) {
  // The +1 of the 16.16 steps carries the last index past a tiny source's end.
  HostWindow window(640, 480);
  Picture pic(2, 2, 6);
  ASSERT_TRUE(PaintFrame(window.hwnd(), pic.frame()));
  ExpectShows(window.hwnd(), pic, 640, 480);
}

TEST(PaintFramePicture, RowPaddingIsSkipped) {
  HostWindow window(10, 6);
  Picture pic(5, 3, 7, 5 * 4 + 12);
  ASSERT_TRUE(PaintFrame(window.hwnd(), pic.frame()));
  ExpectShows(window.hwnd(), pic, 10, 6);
}

TEST(PaintFramePicture, LaterPaintReplacesEveryPixel) {
  HostWindow window(30, 20);
  Picture first(3, 2, 1);
  Picture second(4, 3, 2);
  ASSERT_TRUE(PaintFrame(window.hwnd(), first.frame()));
  ASSERT_TRUE(PaintFrame(window.hwnd(), second.frame()));
  ExpectShows(window.hwnd(), second, 30, 20);
}

// --- Frames and pictures it cannot use -------------------------------------

TEST(PaintFrameRefusal, UnreadableFrameLeavesTheWindowAlone) {
  HostWindow window(8, 8);
  Picture pic(4, 4, 1);
  VideoFrame narrow = pic.frame();
  narrow.stride = 4 * 4 - 1;
  VideoFrame empty = pic.frame();
  empty.height = 0;
  VideoFrame no_pixels = pic.frame();
  no_pixels.data = nullptr;
  for (const VideoFrame& f : {narrow, empty, no_pixels}) {
    EXPECT_FALSE(PaintFrame(window.hwnd(), f));
  }
  EXPECT_TRUE(ReadSurface(window.hwnd()).all_zero());
}

TEST(PaintFrameRefusal, PictureThatCannotBeAllocatedThrowsAndDrawsNothing) {
  HostWindow window(64, 64);
  Picture pic(4, 4, 1);
  {
    vc_test::ScopedAllocationLimit limit(64 * 64 * 4);
    EXPECT_THROW(PaintFrame(window.hwnd(), pic.frame()), std::bad_alloc);
  }
  EXPECT_TRUE(ReadSurface(window.hwnd()).all_zero());
  EXPECT_TRUE(PaintFrame(window.hwnd(), pic.frame()));
  ExpectShows(window.hwnd(), pic, 64, 64);
}

}  // namespace
