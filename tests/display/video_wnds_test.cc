#include "display/video_wnds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <new>
#include <ostream>
#include <vector>

#include "support/failing_allocator.h"
#include "support/host_window.h"
#include "plat/window.h"

namespace {

using vc_test::ExpectShows;
using vc_test::HostWindow;
using vc_test::Picture;
using vc_test::ReadSurface;
using vc_test::TakeFirstFrameNotices;
using kalo::video::VideoWnds;
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

using VideoWndsNoticeTest = VideoWndsTest;

TEST_F(VideoWndsNoticeTest, EachWindowIsNoticedOnceBeforeItsFirstPicture) {
  HostWindow a(16, 16);
  HostWindow b(8, 4);
  set_.AddWindow(a.hwnd());
  set_.AddWindow(b.hwnd());
  Picture pic(4, 4, 1);

  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  EXPECT_EQ(TakeFirstFrameNotices(), (Notices{a.hwnd(), b.hwnd()}));
  EXPECT_EQ(Count(set_, a.hwnd()), 1u);
  EXPECT_EQ(Count(set_, b.hwnd()), 1u);

  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  EXPECT_TRUE(TakeFirstFrameNotices().empty());
  EXPECT_EQ(Count(set_, a.hwnd()), 2u);
  EXPECT_EQ(Count(set_, b.hwnd()), 2u);
}

TEST_F(VideoWndsNoticeTest, AddingAWindowTwiceKeepsOneRegistrationAndItsCount) {
  HostWindow a(16, 16);
  set_.AddWindow(a.hwnd());
  set_.AddWindow(a.hwnd());
  Picture pic(4, 4, 1);
  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  set_.AddWindow(a.hwnd());
  ASSERT_TRUE(set_.ShowFrame(pic.frame()));

  EXPECT_EQ(set_.window_count(), 1u);
  EXPECT_EQ(TakeFirstFrameNotices(), (Notices{a.hwnd()}));
  EXPECT_EQ(Count(set_, a.hwnd()), 2u);
}

TEST_F(VideoWndsNoticeTest, DeadWindowStaysUnpaintedWhileTheOthersArePainted) {
  HostWindow a(16, 16);
  HostWindow dead(16, 16);
  HostWindow c(16, 16);
  set_.AddWindow(a.hwnd());
  set_.AddWindow(dead.hwnd());
  set_.AddWindow(c.hwnd());
  dead.Destroy();

  for (int i = 1; i <= 3; ++i) {
    Picture pic(5, 3, i);
    ASSERT_TRUE(set_.ShowFrame(pic.frame()));
    ExpectShows(a.hwnd(), pic, 16, 16);
    ExpectShows(c.hwnd(), pic, 16, 16);
    EXPECT_EQ(Count(set_, a.hwnd()), static_cast<std::uint64_t>(i));
    EXPECT_EQ(Count(set_, c.hwnd()), static_cast<std::uint64_t>(i));
    // Still waiting for its first picture, so the notice is tried with every
    // frame (and refused by the dead handle).
    EXPECT_EQ(Count(set_, dead.hwnd()), 0u);
  }
  EXPECT_EQ(TakeFirstFrameNotices(), (Notices{a.hwnd(), c.hwnd()}));
}

TEST_F(VideoWndsNoticeTest, RemovingAndAddingAgainStartsAFreshCountAndNotice) {
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

TEST_F(VideoWndsNoticeTest, WindowsAreVisitedInAscendingHandleOrder) {
  HostWindow w1(4, 4);
  HostWindow w2(4, 4);
  HostWindow w3(4, 4);
  Notices sorted{w1.hwnd(), w2.hwnd(), w3.hwnd()};
  std::sort(sorted.begin(), sorted.end());
  set_.AddWindow(sorted[2]);
  set_.AddWindow(sorted[0]);
  set_.AddWindow(sorted[1]);
  Picture pic(2, 2, 1);
  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  EXPECT_EQ(TakeFirstFrameNotices(), sorted);
}

TEST_F(VideoWndsNoticeTest, ZeroSizedClientAreasCountAsPainted) {
  HostWindow none(0, 0);
  HostWindow no_width(0, 9);
  HostWindow no_height(9, 0);
  HostWindow hidden(9, 9, 0);
  HostWindow normal(9, 9);
  for (const HostWindow* w : {&none, &no_width, &no_height, &hidden, &normal}) {
    set_.AddWindow(w->hwnd());
  }
  Picture pic(3, 3, 1);
  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  ASSERT_TRUE(set_.ShowFrame(pic.frame()));

  EXPECT_EQ(TakeFirstFrameNotices().size(), 5u);
  for (const HostWindow* w : {&none, &no_width, &no_height, &hidden, &normal}) {
    EXPECT_EQ(Count(set_, w->hwnd()), 2u) << "window " << w->hwnd();
  }
  for (const HostWindow* w : {&none, &no_width, &no_height}) {
    EXPECT_TRUE(ReadSurface(w->hwnd()).pixels.empty());
  }
  ExpectShows(normal.hwnd(), pic, 9, 9);
}

// --- Repainting the stored frame -------------------------------------------

using VideoWndsRepaintTest = VideoWndsTest;

TEST_F(VideoWndsRepaintTest, BeforeTheFirstFrameNothingIsPainted) {
  HostWindow a(8, 8);
  set_.AddWindow(a.hwnd());
  set_.Repaint(0);
  set_.Repaint(a.hwnd());
  EXPECT_TRUE(ReadSurface(a.hwnd()).all_zero());
  EXPECT_TRUE(TakeFirstFrameNotices().empty());
  EXPECT_EQ(Count(set_, a.hwnd()), 0u);
}

TEST_F(VideoWndsRepaintTest, NullHandleRepaintsTheLatestFrameIntoEveryWindow) {
  HostWindow a(12, 10);
  HostWindow b(5, 7);
  set_.AddWindow(a.hwnd());
  set_.AddWindow(b.hwnd());
  Picture first(8, 6, 1);
  Picture second(3, 2, 2);  // smaller: stored in the first frame's buffer
  ASSERT_TRUE(set_.ShowFrame(first.frame()));
  ASSERT_TRUE(set_.ShowFrame(second.frame()));
  TakeFirstFrameNotices();

  // Resizing clears the surfaces, so what shows afterwards is the repaint.
  ASSERT_TRUE(plat::SetClientSize(a.hwnd(), 20, 15));
  ASSERT_TRUE(plat::SetClientSize(b.hwnd(), 6, 4));
  ASSERT_TRUE(ReadSurface(a.hwnd()).all_zero());
  set_.Repaint(0);
  ExpectShows(a.hwnd(), second, 20, 15);
  ExpectShows(b.hwnd(), second, 6, 4);
  EXPECT_TRUE(TakeFirstFrameNotices().empty());
  EXPECT_EQ(Count(set_, a.hwnd()), 2u);
  EXPECT_EQ(Count(set_, b.hwnd()), 2u);
}

TEST_F(VideoWndsRepaintTest, OneHandleRepaintsOnlyThatRegisteredWindow) {
  HostWindow a(6, 6);
  HostWindow b(6, 6);
  HostWindow stranger(6, 6);
  set_.AddWindow(a.hwnd());
  set_.AddWindow(b.hwnd());
  Picture pic(3, 3, 1);
  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  for (const HostWindow* w : {&a, &b})
    ASSERT_TRUE(plat::SetClientSize(w->hwnd(), 6, 6));

  set_.Repaint(b.hwnd());
  set_.Repaint(stranger.hwnd());
  EXPECT_TRUE(ReadSurface(a.hwnd()).all_zero());
  ExpectShows(b.hwnd(), pic, 6, 6);
  EXPECT_TRUE(ReadSurface(stranger.hwnd()).all_zero());
}

TEST_F(VideoWndsRepaintTest, TheStoredFrameIsACopyOfTheCallersPixels) {
  HostWindow a(8, 8);
  set_.AddWindow(a.hwnd());
  Picture pic(4, 4, 1);
  const Picture original = pic;
  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  for (int row = 0; row < 4; ++row) {  // the caller reuses its pixels
    for (int col = 0; col < 4; ++col)
      pic.at(col, row) = 0xFF00FF00u;
  }
  ASSERT_TRUE(plat::SetClientSize(a.hwnd(), 8, 8));
  set_.Repaint(0);
  ExpectShows(a.hwnd(), original, 8, 8);
  EXPECT_EQ(set_.frame().timestamp, 1234);
}

// --- The stored frame's buffer ---------------------------------------------

using VideoWndsBufferTest = VideoWndsTest;

TEST_F(VideoWndsBufferTest, ShrinkingFramesKeepTheBufferALargerOneReallocates) {
  EXPECT_EQ(set_.buffer_size(), 0);
  EXPECT_EQ(set_.frame().data, nullptr);

  Picture big(8, 8, 1);
  ASSERT_TRUE(set_.ShowFrame(big.frame()));
  EXPECT_EQ(set_.buffer_size(), 8 * 8 * 4);
  const std::uint8_t* buffer = set_.frame().data;
  ASSERT_NE(buffer, nullptr);
  EXPECT_NE(buffer, big.frame().data);

  Picture small(4, 2, 2);
  ASSERT_TRUE(set_.ShowFrame(small.frame()));
  EXPECT_EQ(set_.buffer_size(), 8 * 8 * 4);
  EXPECT_EQ(set_.frame().data, buffer);
  EXPECT_EQ(set_.frame().width, 4);
  EXPECT_EQ(set_.frame().height, 2);
  EXPECT_EQ(set_.frame().stride, 16);

  Picture bigger(16, 8, 3);
  ASSERT_TRUE(set_.ShowFrame(bigger.frame()));
  EXPECT_EQ(set_.buffer_size(), 16 * 8 * 4);
  EXPECT_NE(set_.frame().data, buffer);
  EXPECT_EQ(set_.frame().width, 16);
}

TEST_F(VideoWndsBufferTest, PaddedRowsAreKeptWhole) {
  HostWindow a(10, 6);
  set_.AddWindow(a.hwnd());
  Picture pic(5, 3, 4, 5 * 4 + 8);
  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  EXPECT_EQ(set_.buffer_size(), (5 * 4 + 8) * 3);
  ASSERT_TRUE(plat::SetClientSize(a.hwnd(), 10, 6));
  set_.Repaint(a.hwnd());
  ExpectShows(a.hwnd(), pic, 10, 6);
}

TEST_F(VideoWndsBufferTest, HandingBackTheStoredFrameIsHarmless) {
  HostWindow a(8, 8);
  set_.AddWindow(a.hwnd());
  Picture pic(4, 4, 1);
  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  ASSERT_TRUE(set_.ShowFrame(set_.frame()));
  ExpectShows(a.hwnd(), pic, 8, 8);
  EXPECT_EQ(Count(set_, a.hwnd()), 2u);
}

// --- Frames the set refuses to read ----------------------------------------

struct BadFrame {
  const char* name;
  int width;
  int height;
  int stride;
  bool null_pixels;
};

void PrintTo(const BadFrame& frame, std::ostream* os) {
  *os << frame.name;
}

class VideoWndsBadFrameTest : public VideoWndsTest, public testing::WithParamInterface<BadFrame> {
 protected:
  // A small real buffer, so that any read beyond what a sound frame of it
  // could hold lands outside it (and the sanitizer sees it).
  std::vector<std::uint8_t> pixels_ = std::vector<std::uint8_t>(64, 0x7F);

  VideoFrame Frame() {
    const BadFrame& p = GetParam();
    VideoFrame f;
    f.data = p.null_pixels ? nullptr : pixels_.data();
    f.width = p.width;
    f.height = p.height;
    f.stride = p.stride;
    return f;
  }
};

TEST_P(VideoWndsBadFrameTest, IsDroppedBeforeAnyFrame) {
  HostWindow a(8, 8);
  set_.AddWindow(a.hwnd());
  EXPECT_FALSE(set_.ShowFrame(Frame()));
  EXPECT_EQ(set_.buffer_size(), 0);
  EXPECT_EQ(set_.frame().data, nullptr);
  EXPECT_TRUE(TakeFirstFrameNotices().empty());
  EXPECT_EQ(Count(set_, a.hwnd()), 0u);
  set_.Repaint(0);
  EXPECT_TRUE(ReadSurface(a.hwnd()).all_zero());
}

TEST_P(VideoWndsBadFrameTest, LeavesTheStoredFrameCountsAndWindowsAlone) {
  HostWindow a(8, 8);
  set_.AddWindow(a.hwnd());
  Picture good(4, 4, 1);
  ASSERT_TRUE(set_.ShowFrame(good.frame()));
  TakeFirstFrameNotices();
  const VideoFrame stored = set_.frame();

  EXPECT_FALSE(set_.ShowFrame(Frame()));
  EXPECT_EQ(set_.buffer_size(), 4 * 4 * 4);
  EXPECT_EQ(set_.frame().data, stored.data);
  EXPECT_EQ(set_.frame().width, 4);
  EXPECT_EQ(set_.frame().height, 4);
  EXPECT_EQ(set_.frame().stride, 16);
  EXPECT_EQ(Count(set_, a.hwnd()), 1u);
  EXPECT_TRUE(TakeFirstFrameNotices().empty());
  ExpectShows(a.hwnd(), good, 8, 8);
}

INSTANTIATE_TEST_SUITE_P(Frames, VideoWndsBadFrameTest,
                         testing::Values(BadFrame{"NullPixels", 4, 4, 16, true},
                                         BadFrame{"ZeroWidth", 0, 4, 16, false},
                                         BadFrame{"ZeroHeight", 4, 0, 16, false},
                                         BadFrame{"NegativeWidth", -4, 4, 16, false},
                                         BadFrame{"NegativeHeight", 4, -4, 16, false},
                                         BadFrame{"StrideBelowFourBytesAPixel", 4, 4, 15, false},
                                         BadFrame{"ZeroStride", 4, 4, 0, false},
                                         BadFrame{"NegativeStride", 4, 4, -16, false},
                                         // 4 x 2^29 wraps to 0 in 32 bits.
                                         BadFrame{"WidthWhoseRowWraps", 1 << 29, 1, 16, false},
                                         // 4 x INT32_MAX bytes: negative in 32 bits.
                                         BadFrame{"SizeWrappingNegative", 1, INT32_MAX, 4, false},
                                         // 2^32 + 16 bytes: 16 in 32 bits.
                                         BadFrame{"SizeWrappingSmall", 1, (1 << 30) + 4, 4, false},
                                         BadFrame{"SizeBeyondTheLimit", 1, 2, INT32_MAX, false}),
                         [](const testing::TestParamInfo<BadFrame>& info) {
                           return info.param.name;
                         });

// --- Memory that cannot be had ---------------------------------------------

using VideoWndsAllocationTest = VideoWndsTest;

TEST_F(VideoWndsAllocationTest, FailedGrowthKeepsThePreviousFrameAndItsBuffer) {
  HostWindow a(8, 8);
  set_.AddWindow(a.hwnd());
  Picture small(4, 4, 1);
  ASSERT_TRUE(set_.ShowFrame(small.frame()));
  const std::uint8_t* buffer = set_.frame().data;
  TakeFirstFrameNotices();

  Picture big(64, 64, 2);
  {
    vc_test::ScopedAllocationLimit limit(64 * 64 * 4);
    EXPECT_THROW(set_.ShowFrame(big.frame()), std::bad_alloc);
  }
  EXPECT_EQ(set_.buffer_size(), 4 * 4 * 4);
  EXPECT_EQ(set_.frame().data, buffer);
  EXPECT_EQ(set_.frame().width, 4);
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

TEST_F(VideoWndsAllocationTest, FailedPictureEndsTheFrameWithoutCountingIt) {
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
