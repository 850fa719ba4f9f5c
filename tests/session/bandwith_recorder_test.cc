// The sliding window the manager's frame valve counts with: its edges by
// hand, the rest against a model that keeps every event.
#include "session/bandwith_recorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

// Far from 0, so that elapsed time is a real difference.
constexpr std::int64_t kStart = 1'700'000'000'000;

ClockStamp At(std::int64_t ms) {
  ClockStamp t;
  t.seconds = (kStart + ms) / 1000;
  t.milliseconds = static_cast<std::uint16_t>((kStart + ms) % 1000);
  return t;
}

// The window's edges (times before the start or before the window, steps
// back, both directions apart) are the model test's; these are not.
TEST(BandwithRecorderTest, ResetEmptiesAndImpossibleSizesAreTakenAsOne) {
  bandwith_recorder r(1000, 5, At(0));
  r.add_out(4, At(10));
  r.reset(3, 0, At(0));  // no slots, under a millisecond per slot
  EXPECT_EQ(r.slot_count(), 1u);
  EXPECT_EQ(r.slot_length(), 3u);
  EXPECT_EQ(r.cur_out(At(0)), 0u);
  r.add_out(1, At(2));
  EXPECT_EQ(r.cur_out(At(2)), 1u);
  EXPECT_EQ(r.cur_out(At(3)), 0u);
}

// Keeps every event with its slot and counts the window from scratch.
class NaiveRecorder {
 public:
  NaiveRecorder(std::uint32_t window_ms, std::uint32_t slots)
      : n_(slots), length_(window_ms / slots) {}

  void add(std::uint32_t count, std::int64_t ms) {
    const std::uint64_t index = ms > 0 ? static_cast<std::uint64_t>(ms) / length_ : 0;
    if (index + 1 > n_)
      base_ = std::max(base_, index + 1 - n_);
    // A time before the window lands on the window's slot at its position.
    const std::uint64_t at = index < base_ ? index + (base_ - index + n_ - 1) / n_ * n_ : index;
    events_.emplace_back(at, count);
  }
  std::uint32_t count(std::int64_t ms) {
    add(0, ms);
    std::uint32_t total = 0;
    for (const auto& [slot, count] : events_)
      total += slot >= base_ && slot < base_ + n_ ? count : 0;
    return total;
  }

 private:
  std::uint64_t n_, length_, base_ = 0;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> events_;
};

TEST(BandwithRecorderTest, AgreesWithANaiveModelOnRandomTraffic) {
  std::mt19937 rng(20240601);
  for (const auto& [window_ms, slots] : {std::pair<std::uint32_t, std::uint32_t>{1000, 10},
                                         {1000, 5},
                                         {1000, 1},
                                         {1000, 7},
                                         {250, 3},
                                         {60000, 60}}) {
    for (int run = 0; run < 20; ++run) {
      bandwith_recorder r(window_ms, slots, At(0));
      NaiveRecorder model(window_ms, slots);
      std::int64_t now = 0;
      for (int step = 0; step < 400; ++step) {
        // Mostly small steps, some jumps past the window, a few steps back.
        const auto kind = rng() % 20;
        const auto step_ms = static_cast<std::int64_t>(rng() % (window_ms / 4 + 1));
        const auto jump_ms = static_cast<std::int64_t>(rng() % (3 * window_ms));
        now += kind < 14 ? step_ms : kind < 17 ? jump_ms : kind < 19 ? -jump_ms / 2 : 0;
        const std::uint32_t count = rng() % 4;
        const int what = static_cast<int>(rng() % 3);
        if (what == 0) {
          r.add_out(count, At(now));
          model.add(count, now);
        } else if (what == 1) {
          r.add_in(count, At(now));  // the other side must not disturb this one
        } else {
          ASSERT_EQ(r.cur_out(At(now)), model.count(now))
              << window_ms << "/" << slots << " step " << step << " at " << now;
        }
      }
    }
  }
}

}  // namespace
