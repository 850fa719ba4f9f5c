// PaintFrame: the picture upright over the whole client area, and one it cannot
// allocate. Scaling is the pixel tests'; bad frames and dead windows the set's.
#include "display/paint_frame.h"

#include <gtest/gtest.h>

#include <new>

#include "plat/window.h"
#include "support/failing_allocator.h"
#include "support/host_window.h"

namespace {

using kalo::video::PaintFrame;
using vc_test::ExpectShows;
using vc_test::HostWindow;
using vc_test::Picture;
using vc_test::ReadSurface;

// ExpectShows puts the first memory row at the bottom of the window.
TEST(PaintFrameTest, ThePictureFillsTheClientAreaUprightAndReplacesWhatWasThere) {
  Picture pic(7, 5, 5);
  for (auto [w, h] : {std::pair{23, 11}, {3, 2}, {1, 1}, {7, 5}, {5, 9}}) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    HostWindow window(w, h);
    Picture before(3, 2, 1);
    ASSERT_TRUE(PaintFrame(window.hwnd(), before.frame()));
    ASSERT_TRUE(PaintFrame(window.hwnd(), pic.frame()));
    ExpectShows(window.hwnd(), pic, w, h);
  }
  HostWindow window(10, 6);
  Picture padded(5, 3, 7, 5 * 4 + 12);  // row padding is skipped
  ASSERT_TRUE(PaintFrame(window.hwnd(), padded.frame()));
  ExpectShows(window.hwnd(), padded, 10, 6);
}

TEST(PaintFrameTest, PictureThatCannotBeAllocatedThrowsAndDrawsNothing) {
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
