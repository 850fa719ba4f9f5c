// ClockStamp: seconds and milliseconds of the monotonic clock.
#include <gtest/gtest.h>

#include "common/clock_stamp.h"
#include "plat/kernel.h"

namespace {

TEST(ClockStampTest, FollowsThePerformanceCounterInWholeMillisecondsThatNeverGoBack) {
  std::int64_t before = 0, after = 0;
  plat::QueryPerformanceCounter(&before);
  const ClockStamp first = ClockStamp::Now();
  plat::QueryPerformanceCounter(&after);
  EXPECT_GE(first.total_milliseconds(), before / 1000000);
  EXPECT_LE(first.total_milliseconds(), after / 1000000);
  ClockStamp previous = first;
  for (int i = 0; i < 20000; ++i) {
    const ClockStamp stamp = ClockStamp::Now();
    ASSERT_TRUE(stamp.milliseconds <= 999 && stamp.reserved1 == 0 && stamp.reserved2 == 0);
    ASSERT_GE(stamp.total_milliseconds(), previous.total_milliseconds());
    previous = stamp;
  }
}

}  // namespace
