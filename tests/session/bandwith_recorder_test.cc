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

TEST(BandwithRecorderTest, IsEmptyRightAfterAReset) {
  bandwith_recorder r(1000, 5, At(0));
  r.add_out(4, At(10));
  r.reset(1000, 10, At(0));
  EXPECT_EQ(r.slot_count(), 10u);
  EXPECT_EQ(r.slot_length(), 100u);
  EXPECT_EQ(r.cur_out(At(0)), 0u);
}

TEST(BandwithRecorderTest, SlotsLeaveTheWindowOneByOneOrAllAtOnce) {
  bandwith_recorder r(1000, 10, At(0));
  r.add_out(1, At(50));
  r.add_out(1, At(150));
  r.add_out(1, At(950));
  struct Step {
    std::int64_t ms;
    std::uint32_t count;
  };
  for (const Step s : {Step{950, 3}, Step{1050, 2}, Step{1850, 1}, Step{1950, 0}, Step{3000, 0}}) {
    EXPECT_EQ(r.cur_out(At(s.ms)), s.count) << "at " << s.ms;
  }
  r.add_out(1, At(3000));
  EXPECT_EQ(r.cur_out(At(3999)), 1u);
  EXPECT_EQ(r.cur_out(At(4000)), 0u);
}

TEST(BandwithRecorderTest, TimesAtOrBeforeTheStartCountIntoSlotZero) {
  bandwith_recorder r(1000, 10, At(0));
  r.add_out(1, At(0));
  r.add_out(1, At(-5000));
  EXPECT_EQ(r.cur_out(At(99)), 2u);
  EXPECT_EQ(r.cur_out(At(999)), 2u);
  EXPECT_EQ(r.cur_out(At(1000)), 0u);
}

TEST(BandwithRecorderTest, TimesBeforeTheWindowShareASlotOfIt) {
  bandwith_recorder r(1000, 10, At(0));
  EXPECT_EQ(r.cur_out(At(2000)), 0u);  // window: slots 11..20
  r.add_out(1, At(450));               // slot 4: counted where slot 14 lives
  EXPECT_EQ(r.cur_out(At(2000)), 1u);
  EXPECT_EQ(r.cur_out(At(2450)), 0u);  // slot 14 has left
}

TEST(BandwithRecorderTest, InAndOutAreCountedApart) {
  bandwith_recorder r(1000, 10, At(0));
  r.add_in(5, At(10));
  r.add_out(2, At(20));
  EXPECT_EQ(r.cur_in(At(30)), 5u);
  EXPECT_EQ(r.cur_out(At(30)), 2u);
  r.add_in(1, At(1500));  // moves only the incoming window
  EXPECT_EQ(r.cur_in(At(1500)), 1u);
  EXPECT_EQ(r.cur_out(At(999)), 2u);
}

TEST(BandwithRecorderTest, ImpossibleSizesAreTakenAsOne) {
  bandwith_recorder r(1000, 0, At(0));
  EXPECT_EQ(r.slot_count(), 1u);
  r.add_out(1, At(10));
  EXPECT_EQ(r.cur_out(At(999)), 1u);
  EXPECT_EQ(r.cur_out(At(1000)), 0u);

  r.reset(3, 10, At(0));  // under a millisecond per slot
  EXPECT_EQ(r.slot_length(), 1u);
  r.add_out(1, At(0));
  EXPECT_EQ(r.cur_out(At(9)), 1u);
  EXPECT_EQ(r.cur_out(At(10)), 0u);
}

// Keeps every event with its time and counts the window from scratch.
class NaiveRecorder {
 public:
  NaiveRecorder(std::uint32_t window_ms, std::uint32_t slots)
      : n_(slots), length_(window_ms / slots) {}

  void add(std::uint32_t count, std::int64_t ms) {
    const std::uint64_t index = ms > 0 ? static_cast<std::uint64_t>(ms) / length_ : 0;
    if (index + 1 > n_)
      base_ = std::max(base_, index + 1 - n_);
    // A time before the window lands on the window's slot at its position.
    std::uint64_t at = index;
    if (at < base_)
      at += (base_ - at + n_ - 1) / n_ * n_;
    if (count > 0)
      events_.push_back({at, count});
  }
  std::uint32_t count(std::int64_t ms) {
    add(0, ms);
    std::uint32_t total = 0;
    for (const auto& e : events_) {
      if (e.slot >= base_ && e.slot < base_ + n_)
        total += e.count;
    }
    return total;
  }

 private:
  struct Event {
    std::uint64_t slot;
    std::uint32_t count;
  };
  std::uint64_t n_;
  std::uint64_t length_;
  std::uint64_t base_ = 0;
  std::vector<Event> events_;
};

TEST(BandwithRecorderTest, AgreesWithANaiveModelOnRandomTraffic) {
  std::mt19937 rng(20240601);
  struct Config {
    std::uint32_t window_ms;
    std::uint32_t slots;
  };
  for (const Config c : {Config{1000, 10}, Config{1000, 5}, Config{1000, 1}, Config{1000, 7},
                         Config{250, 3}, Config{60000, 60}}) {
    SCOPED_TRACE(::testing::Message() << c.window_ms << "/" << c.slots);
    for (int run = 0; run < 20; ++run) {
      bandwith_recorder r(c.window_ms, c.slots, At(0));
      NaiveRecorder model(c.window_ms, c.slots);
      std::int64_t now = 0;
      for (int step = 0; step < 400; ++step) {
        // Mostly small steps, some jumps past the window, a few steps back.
        const int kind = static_cast<int>(rng() % 20);
        if (kind < 14) {
          now += rng() % (c.window_ms / 4 + 1);
        } else if (kind < 17) {
          now += rng() % (3 * c.window_ms);
        } else if (kind < 19) {
          now -= rng() % (2 * c.window_ms);
        }
        const std::uint32_t count = rng() % 4;
        switch (rng() % 3) {
          case 0:
            r.add_out(count, At(now));
            model.add(count, now);
            break;
          case 1:
            r.add_in(count, At(now));  // the other side must not disturb this one
            break;
          default:
            ASSERT_EQ(r.cur_out(At(now)), model.count(now)) << "step " << step << " at " << now;
        }
      }
    }
  }
}

}  // namespace
