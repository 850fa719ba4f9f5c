// VideoWnds: first-frame notices and counts per window, repainting the stored
// frame, the stored frame's buffer, frames it refuses and memory it cannot have.
#include "display/video_wnds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <vector>

#include "display/paint_frame.h"
#include "plat/window.h"
#include "support/failing_allocator.h"
#include "support/host_window.h"

namespace {

using kalo::video::VideoWnds;
using vc_test::ExpectShows;
using vc_test::HostWindow;
using vc_test::Picture;
using vc_test::ReadSurface;
using vc_test::TakeFirstFrameNotices;
using Notices = std::vector<plat::HWND>;

std::uint64_t Count(const VideoWnds& set, plat::HWND hwnd) {
  const VideoWnds::Attributes* a = set.attributes(hwnd);
  EXPECT_NE(a, nullptr) << "window " << hwnd << " not registered";
  return a ? a->frame_count : 0;
}

class VideoWndsTest : public testing::Test {
 protected:
  void SetUp() override { TakeFirstFrameNotices(); }
  VideoWnds set_;
};

// --- First-frame notices and counts ----------------------------------------

TEST_F(VideoWndsTest, EachWindowIsNoticedOnceInHandleOrderAndCountsItsPictures) {
  HostWindow w1(16, 16);
  HostWindow w2(8, 4);
  HostWindow w3(4, 4);
  Notices sorted{w1.hwnd(), w2.hwnd(), w3.hwnd()};
  std::sort(sorted.begin(), sorted.end());
  for (plat::HWND hwnd : {sorted[2], sorted[0], sorted[1], sorted[0]})
    set_.AddWindow(hwnd);
  Picture pic(4, 4, 1);
  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  EXPECT_EQ(TakeFirstFrameNotices(), sorted);
  set_.AddWindow(sorted[1]);  // again: keeps its registration and count
  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  EXPECT_TRUE(TakeFirstFrameNotices().empty());
  EXPECT_EQ(set_.window_count(), 3u);
  for (plat::HWND hwnd : sorted)
    EXPECT_EQ(Count(set_, hwnd), 2u);
}

TEST_F(VideoWndsTest, DeadWindowStaysUnpaintedWhileTheOthersArePainted) {
  HostWindow a(16, 16);
  HostWindow dead(16, 16);
  HostWindow c(16, 16);
  for (const HostWindow* w : {&a, &dead, &c})
    set_.AddWindow(w->hwnd());
  dead.Destroy();
  for (int i = 1; i <= 2; ++i) {
    Picture pic(5, 3, i);
    ASSERT_TRUE(set_.ShowFrame(pic.frame()));
    ExpectShows(c.hwnd(), pic, 16, 16);
    EXPECT_EQ(Count(set_, a.hwnd()), static_cast<std::uint64_t>(i));
    // Still waiting for its first picture, so the notice is tried with every
    // frame (and refused by the dead handle).
    EXPECT_EQ(Count(set_, dead.hwnd()), 0u);
  }
  EXPECT_EQ(TakeFirstFrameNotices(), (Notices{a.hwnd(), c.hwnd()}));
}

TEST_F(VideoWndsTest, RemovingAndAddingAgainStartsAFreshCountAndNotice) {
  HostWindow a(16, 16);
  set_.AddWindow(a.hwnd());
  Picture pic(4, 4, 1);
  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  EXPECT_EQ(TakeFirstFrameNotices(), (Notices{a.hwnd()}));

  set_.RemoveWindow(a.hwnd());
  set_.RemoveWindow(a.hwnd());  // unknown by now: nothing happens
  EXPECT_EQ(set_.attributes(a.hwnd()), nullptr);
  Picture other(4, 4, 2);
  ASSERT_TRUE(set_.ShowFrame(other.frame()));
  EXPECT_TRUE(TakeFirstFrameNotices().empty());
  ExpectShows(a.hwnd(), pic, 16, 16);  // no longer painted

  set_.AddWindow(a.hwnd());
  EXPECT_EQ(Count(set_, a.hwnd()), 0u);
  ASSERT_TRUE(set_.ShowFrame(other.frame()));
  EXPECT_EQ(TakeFirstFrameNotices(), (Notices{a.hwnd()}));
  EXPECT_EQ(Count(set_, a.hwnd()), 1u);
  ExpectShows(a.hwnd(), other, 16, 16);
}

TEST_F(VideoWndsTest, ZeroSizedAndHiddenClientAreasCountAsPainted) {
  HostWindow none(0, 0);
  HostWindow no_width(0, 9);
  HostWindow no_height(9, 0);
  HostWindow hidden(9, 9, 0);
  const std::vector<const HostWindow*> windows = {&none, &no_width, &no_height, &hidden};
  for (const HostWindow* w : windows)
    set_.AddWindow(w->hwnd());
  Picture pic(3, 3, 1);
  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  EXPECT_EQ(TakeFirstFrameNotices().size(), 4u);
  for (const HostWindow* w : windows)
    EXPECT_EQ(Count(set_, w->hwnd()), 2u) << "window " << w->hwnd();
}

// --- Repainting the stored frame -------------------------------------------

TEST_F(VideoWndsTest, RepaintShowsACopyOfTheLatestFrameInOneOrEveryWindow) {
  HostWindow a(12, 10);
  HostWindow b(5, 7);
  HostWindow stranger(6, 6);
  set_.AddWindow(a.hwnd());
  set_.AddWindow(b.hwnd());
  Picture first(8, 6, 1);
  Picture second(3, 2, 2);  // smaller: stored in the first frame's buffer
  ASSERT_TRUE(set_.ShowFrame(first.frame()));
  ASSERT_TRUE(set_.ShowFrame(second.frame()));
  const Picture original = second;
  second.at(1, 1) = 0xFF00FF00u;  // the caller reuses its pixels
  TakeFirstFrameNotices();

  // Resizing clears the surfaces, so what shows afterwards is the repaint.
  ASSERT_TRUE(plat::SetClientSize(a.hwnd(), 20, 15));
  ASSERT_TRUE(plat::SetClientSize(b.hwnd(), 6, 4));
  set_.Repaint(b.hwnd());
  set_.Repaint(stranger.hwnd());
  EXPECT_TRUE(ReadSurface(a.hwnd()).all_zero());
  ExpectShows(b.hwnd(), original, 6, 4);
  EXPECT_TRUE(ReadSurface(stranger.hwnd()).all_zero());
  set_.Repaint(0);
  ExpectShows(a.hwnd(), original, 20, 15);
  EXPECT_TRUE(TakeFirstFrameNotices().empty());
  EXPECT_EQ(Count(set_, a.hwnd()), 2u);  // repaints are no new pictures
  EXPECT_EQ(set_.frame().timestamp, 1234);
}

// --- The stored frame's buffer ---------------------------------------------

TEST_F(VideoWndsTest, ShrinkingFramesKeepTheBufferALargerOneReallocates) {
  HostWindow a(10, 6);
  set_.AddWindow(a.hwnd());
  Picture padded(5, 3, 4, 5 * 4 + 8);
  ASSERT_TRUE(set_.ShowFrame(padded.frame()));
  EXPECT_EQ(set_.buffer_size(), (5 * 4 + 8) * 3);  // padded rows are kept whole
  ASSERT_TRUE(plat::SetClientSize(a.hwnd(), 10, 6));
  set_.Repaint(a.hwnd());
  ExpectShows(a.hwnd(), padded, 10, 6);

  Picture big(8, 8, 1);
  ASSERT_TRUE(set_.ShowFrame(big.frame()));
  EXPECT_EQ(set_.buffer_size(), 8 * 8 * 4);
  const std::uint8_t* buffer = set_.frame().data;

  Picture small(4, 2, 2);
  ASSERT_TRUE(set_.ShowFrame(small.frame()));
  EXPECT_EQ(set_.buffer_size(), 8 * 8 * 4);
  EXPECT_EQ(set_.frame().data, buffer);
  EXPECT_EQ(set_.frame().width, 4);
  EXPECT_EQ(set_.frame().stride, 16);

  Picture bigger(16, 8, 3);
  ASSERT_TRUE(set_.ShowFrame(bigger.frame()));
  EXPECT_EQ(set_.buffer_size(), 16 * 8 * 4);
  EXPECT_NE(set_.frame().data, buffer);

  ASSERT_TRUE(set_.ShowFrame(set_.frame()));  // handing back the stored frame
  ExpectShows(a.hwnd(), bigger, 10, 6);
}

// --- Frames neither the set nor the painter will read ----------------------

struct BadFrame {
  const char* name;
  int width;
  int height;
  int stride;
  bool null_pixels = false;
};

TEST_F(VideoWndsTest, AFrameItCannotReadLeavesTheStoredFrameCountsAndWindowsAlone) {
  const std::vector<BadFrame> frames = {
      {"null pixels", 4, 4, 16, true},
      {"zero width", 0, 4, 16},
      {"zero height", 4, 0, 16},
      {"negative width", -4, 4, 16},
      {"negative height", 4, -4, 16},
      {"stride below four bytes a pixel", 4, 4, 15},
      {"zero stride", 4, 4, 0},
      {"negative stride", 4, 4, -16},
      {"a row that wraps to 0 in 32 bits", 1 << 29, 1, 16},
      {"a size that wraps negative", 1, INT32_MAX, 4},
      {"a size that wraps small", 1, (1 << 30) + 4, 4},
      {"a size beyond the limit", 1, 2, INT32_MAX},
  };
  // A small real buffer, so that any read beyond what a sound frame of it
  // could hold lands outside it (and the sanitizer sees it).
  std::vector<std::uint8_t> pixels(64, 0x7F);
  for (const BadFrame& bad : frames) {
    SCOPED_TRACE(bad.name);
    VideoFrame f;
    f.data = bad.null_pixels ? nullptr : pixels.data();
    f.width = bad.width;
    f.height = bad.height;
    f.stride = bad.stride;
    HostWindow a(8, 8);
    VideoWnds set;
    set.AddWindow(a.hwnd());
    EXPECT_FALSE(kalo::video::PaintFrame(a.hwnd(), f));
    EXPECT_FALSE(set.ShowFrame(f));  // before any frame
    EXPECT_EQ(set.buffer_size(), 0);
    set.Repaint(0);
    EXPECT_TRUE(ReadSurface(a.hwnd()).all_zero());

    Picture good(4, 4, 1);
    ASSERT_TRUE(set.ShowFrame(good.frame()));
    const std::uint8_t* stored = set.frame().data;
    EXPECT_FALSE(set.ShowFrame(f));  // after one
    EXPECT_EQ(set.buffer_size(), 4 * 4 * 4);
    EXPECT_EQ(set.frame().data, stored);
    EXPECT_EQ(set.frame().stride, 16);
    EXPECT_EQ(Count(set, a.hwnd()), 1u);
    EXPECT_EQ(TakeFirstFrameNotices(), (Notices{a.hwnd()}));
    ExpectShows(a.hwnd(), good, 8, 8);
  }
}

// --- Memory that cannot be had ---------------------------------------------

TEST_F(VideoWndsTest, FailedGrowthKeepsThePreviousFrameAndItsBuffer) {
  HostWindow a(8, 8);
  set_.AddWindow(a.hwnd());
  Picture small(4, 4, 1);
  ASSERT_TRUE(set_.ShowFrame(small.frame()));
  const std::uint8_t* buffer = set_.frame().data;
  Picture big(64, 64, 2);
  {
    vc_test::ScopedAllocationLimit limit(64 * 64 * 4);
    EXPECT_THROW(set_.ShowFrame(big.frame()), std::bad_alloc);
  }
  EXPECT_EQ(set_.buffer_size(), 4 * 4 * 4);
  EXPECT_EQ(set_.frame().data, buffer);
  EXPECT_EQ(Count(set_, a.hwnd()), 1u);
  ExpectShows(a.hwnd(), small, 8, 8);

  // A later frame that fits is copied into what the buffer really holds.
  Picture fits(8, 2, 3);
  ASSERT_TRUE(set_.ShowFrame(fits.frame()));
  ExpectShows(a.hwnd(), fits, 8, 8);
  ASSERT_TRUE(set_.ShowFrame(big.frame()));
  EXPECT_EQ(set_.buffer_size(), 64 * 64 * 4);
  ExpectShows(a.hwnd(), big, 8, 8);
}

TEST_F(VideoWndsTest, FailedPictureEndsTheFrameWithoutCountingIt) {
  HostWindow small(4, 4);
  HostWindow large(64, 64);
  ASSERT_LT(small.hwnd(), large.hwnd());
  set_.AddWindow(small.hwnd());
  set_.AddWindow(large.hwnd());
  Picture pic(2, 2, 1);
  {
    vc_test::ScopedAllocationLimit limit(64 * 64 * 4);
    EXPECT_THROW(set_.ShowFrame(pic.frame()), std::bad_alloc);
  }
  EXPECT_EQ(set_.frame().width, 2);  // stored before painting began
  EXPECT_EQ(Count(set_, small.hwnd()), 1u);
  EXPECT_EQ(Count(set_, large.hwnd()), 0u);
  EXPECT_EQ(TakeFirstFrameNotices(), (Notices{small.hwnd(), large.hwnd()}));

  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  EXPECT_EQ(TakeFirstFrameNotices(), (Notices{large.hwnd()}));
  EXPECT_EQ(Count(set_, large.hwnd()), 1u);
  ExpectShows(large.hwnd(), pic, 64, 64);
}

}  // namespace
