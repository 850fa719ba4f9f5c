// VideoWnds: first-frame notices and counts per window, repainting the stored
// frame, the stored frame's buffer, frames it refuses and memory it cannot have.
#include "display/video_wnds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "common/aligned_buffer.h"
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
  return a ? a->frame_count : 999;
}

class VideoWndsTest : public testing::Test {
 protected:
  void SetUp() override { TakeFirstFrameNotices(); }
  VideoWnds set_;
};

// Zero-sized and hidden client areas count as painted; a dead window stays
// unpainted and is noticed again with every frame (the post is refused).
TEST_F(VideoWndsTest, EachLiveWindowIsNoticedOnceInHandleOrderAndCountsItsPictures) {
  HostWindow w1(16, 16), w2(0, 9), w3(9, 9, 0), dead(4, 4), w5(5, 7);
  Notices sorted{w1.hwnd(), w2.hwnd(), w3.hwnd(), w5.hwnd()};
  std::sort(sorted.begin(), sorted.end());
  for (plat::HWND hwnd : {sorted[3], sorted[0], dead.hwnd(), sorted[2], sorted[1], sorted[0]})
    set_.AddWindow(hwnd);
  dead.Destroy();
  for (int i = 1; i <= 2; ++i) {
    Picture pic(4, 4, i);
    ASSERT_TRUE(set_.ShowFrame(pic.frame()));
    EXPECT_EQ(TakeFirstFrameNotices(), i == 1 ? sorted : Notices{});
    ExpectShows(w5.hwnd(), pic, 5, 7);
    for (plat::HWND hwnd : sorted)
      EXPECT_EQ(Count(set_, hwnd), static_cast<std::uint64_t>(i));
    EXPECT_EQ(Count(set_, dead.hwnd()), 0u);
  }
  set_.AddWindow(sorted[1]);  // again: keeps its registration and count
  EXPECT_EQ(Count(set_, sorted[1]), 2u);
  EXPECT_EQ(set_.window_count(), 5u);
}

TEST_F(VideoWndsTest, RemovingAndAddingAgainStartsAFreshCountAndNotice) {
  HostWindow a(16, 16);
  set_.AddWindow(a.hwnd());
  Picture pic(4, 4, 1), other(4, 4, 2);
  ASSERT_TRUE(set_.ShowFrame(pic.frame()));
  set_.RemoveWindow(a.hwnd());
  set_.RemoveWindow(a.hwnd());  // unknown by now: nothing happens
  ASSERT_TRUE(set_.ShowFrame(other.frame()));
  EXPECT_EQ(TakeFirstFrameNotices(), (Notices{a.hwnd()}));
  ExpectShows(a.hwnd(), pic, 16, 16);  // no longer painted
  set_.AddWindow(a.hwnd());
  EXPECT_EQ(Count(set_, a.hwnd()), 0u);
  ASSERT_TRUE(set_.ShowFrame(other.frame()));
  EXPECT_EQ(TakeFirstFrameNotices(), (Notices{a.hwnd()}));
  ExpectShows(a.hwnd(), other, 16, 16);
}

// Resizing clears a surface, so what shows afterwards is the repaint.
TEST_F(VideoWndsTest, RepaintShowsACopyOfTheLatestFrameInOneOrEveryWindowAndKeepsItsBuffer) {
  HostWindow a(12, 10), b(5, 7), stranger(6, 6);
  set_.AddWindow(a.hwnd());
  set_.AddWindow(b.hwnd());
  Picture first(8, 6, 1), second(3, 2, 2), padded(9, 6, 4, 9 * 4 + 8);
  ASSERT_TRUE(set_.ShowFrame(first.frame()));
  const std::uint8_t* buffer = set_.frame().data;
  ASSERT_TRUE(set_.ShowFrame(second.frame()));  // smaller: kept in the first frame's buffer
  EXPECT_EQ(set_.frame().data, buffer);
  EXPECT_EQ(set_.buffer_size(), 8 * 6 * 4);
  const Picture original = second;
  second.at(1, 1) = 0xFF00FF00u;  // the caller reuses its pixels
  ASSERT_TRUE(plat::SetClientSize(a.hwnd(), 20, 15));
  ASSERT_TRUE(plat::SetClientSize(b.hwnd(), 6, 4));
  set_.Repaint(b.hwnd());
  set_.Repaint(stranger.hwnd());
  EXPECT_TRUE(ReadSurface(a.hwnd()).all_zero());
  ExpectShows(b.hwnd(), original, 6, 4);
  EXPECT_TRUE(ReadSurface(stranger.hwnd()).all_zero());
  set_.Repaint(0);
  ExpectShows(a.hwnd(), original, 20, 15);
  EXPECT_EQ(Count(set_, a.hwnd()), 2u);  // repaints are no new pictures

  ASSERT_TRUE(set_.ShowFrame(padded.frame()));  // larger: padded rows are kept whole
  EXPECT_EQ(set_.buffer_size(), (9 * 4 + 8) * 6);
  EXPECT_NE(set_.frame().data, buffer);
  ASSERT_TRUE(set_.ShowFrame(set_.frame()));  // handing back the stored frame
  ExpectShows(a.hwnd(), padded, 20, 15);
}

// A producer that hands its picture over gets the set's previous buffer back
// and writes its next picture there: the set keeps showing and repainting the
// picture handed over. A frame outside the buffer handed over is refused.
TEST_F(VideoWndsTest, AHandedOverPictureIsKeptAndTheProducersNextWriteLeavesItAlone) {
  HostWindow w(8, 6);
  set_.AddWindow(w.hwnd());
  Picture first(8, 6, 1), second(8, 6, 2);
  constexpr std::int32_t kBytes = 8 * 6 * 4;
  std::int32_t capacity = 0;
  AlignedBuffer pixels;
  const auto hand_over = [&](Picture& picture) {
    pixels = MakeAlignedBufferOrThrow(kBytes);
    capacity = kBytes;
    VideoFrame frame = picture.frame();
    std::memcpy(pixels.get(), frame.data, kBytes);
    frame.data = pixels.get();
    return set_.ShowFrame(frame, pixels, capacity);
  };
  ASSERT_TRUE(hand_over(first));
  const std::uint8_t* kept = set_.frame().data;
  EXPECT_EQ(pixels, nullptr);  // the set had no buffer yet
  EXPECT_EQ(capacity, 0);
  ASSERT_TRUE(hand_over(second));
  EXPECT_EQ(pixels.get(), kept);
  EXPECT_EQ(capacity, kBytes);
  std::memset(pixels.get(), 0x55, kBytes);  // the producer's next picture
  set_.Repaint(0);
  ExpectShows(w.hwnd(), second, 8, 6);

  EXPECT_FALSE(set_.ShowFrame(first.frame(), pixels, capacity));
  EXPECT_EQ(pixels.get(), kept);
  ExpectShows(w.hwnd(), second, 8, 6);
  EXPECT_EQ(Count(set_, w.hwnd()), 2u);
}

// A small real buffer, so that any read beyond what a sound frame of it could
// hold lands outside it (and the sanitizer sees it).
TEST_F(VideoWndsTest, AFrameItCannotReadLeavesTheStoredFrameCountsAndWindowsAlone) {
  struct Bad {
    const char* name;
    int width, height, stride;
    bool null_pixels = false;
  } const frames[] = {{"null pixels", 4, 4, 16, true},
                      {"zero width", 0, 4, 16},
                      {"zero height", 4, 0, 16},
                      {"negative width", -4, 4, 16},
                      {"negative height", 4, -4, 16},
                      {"stride below four bytes a pixel", 4, 4, 15},
                      {"three bytes a pixel", 4, 4, 12},
                      {"negative stride", 4, 4, -16},
                      {"a row that wraps to 0 in 32 bits", 1 << 29, 1, 16},
                      {"a size that wraps negative", 1, INT32_MAX, 4},
                      {"a size that wraps small", 1, (1 << 30) + 4, 4},
                      {"a size beyond the limit", 1, 2, INT32_MAX}};
  std::vector<std::uint8_t> pixels(64, 0x7F);
  for (const Bad& bad : frames) {
    SCOPED_TRACE(bad.name);
    const VideoFrame f{bad.null_pixels ? nullptr : pixels.data(), bad.stride, bad.width, bad.height,
                       0};
    HostWindow a(8, 8);
    VideoWnds set;
    set.AddWindow(a.hwnd());
    EXPECT_FALSE(kalo::video::PaintFrame(a.hwnd(), f));
    EXPECT_FALSE(set.ShowFrame(f));  // before any frame
    set.Repaint(0);
    EXPECT_TRUE(ReadSurface(a.hwnd()).all_zero());
    Picture good(4, 4, 1);
    ASSERT_TRUE(set.ShowFrame(good.frame()));
    EXPECT_FALSE(set.ShowFrame(f));  // after one
    EXPECT_EQ(set.buffer_size() + set.frame().stride, 4 * 4 * 4 + 16);
    EXPECT_EQ(Count(set, a.hwnd()), 1u);
    EXPECT_EQ(TakeFirstFrameNotices(), (Notices{a.hwnd()}));
    ExpectShows(a.hwnd(), good, 8, 8);
  }
}

// A frame that cannot be stored keeps the last one; one stored but not painted
// everywhere counts only where it was painted.
TEST_F(VideoWndsTest, MemoryThatCannotBeHadLosesNeitherTheStoredFrameNorACount) {
  HostWindow small(4, 4), large(64, 64);
  ASSERT_LT(small.hwnd(), large.hwnd());
  set_.AddWindow(small.hwnd());
  set_.AddWindow(large.hwnd());
  Picture tiny(2, 2, 1), big(64, 64, 2);
  {
    vc_test::ScopedAllocationLimit limit(64 * 64 * 4);
    EXPECT_THROW(set_.ShowFrame(tiny.frame()), std::bad_alloc);  // painting the large window
    EXPECT_THROW(set_.ShowFrame(big.frame()), std::bad_alloc);   // storing
  }
  EXPECT_EQ(set_.frame().width, 2);
  EXPECT_EQ(set_.buffer_size(), 2 * 2 * 4);
  EXPECT_EQ(Count(set_, small.hwnd()), 1u);
  EXPECT_EQ(Count(set_, large.hwnd()), 0u);
  EXPECT_EQ(TakeFirstFrameNotices(), (Notices{small.hwnd(), large.hwnd()}));
  ASSERT_TRUE(set_.ShowFrame(big.frame()));
  EXPECT_EQ(TakeFirstFrameNotices(), (Notices{large.hwnd()}));
  EXPECT_EQ(Count(set_, large.hwnd()), 1u);
  ExpectShows(large.hwnd(), big, 64, 64);
}

}  // namespace
