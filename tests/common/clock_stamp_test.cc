// ClockStamp: seconds and milliseconds of the monotonic clock.
#include "common/clock_stamp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "plat/kernel.h"

namespace {

using namespace std::chrono_literals;

TEST(ClockStampTest, MillisecondsStayBelowOneThousandAndReservedWordsZero) {
  for (int i = 0; i < 20000; ++i) {
    const ClockStamp stamp = ClockStamp::Now();
    ASSERT_LE(stamp.milliseconds, 999);
    ASSERT_EQ(stamp.reserved1, 0);
    ASSERT_EQ(stamp.reserved2, 0);
  }
}

TEST(ClockStampTest, FollowsThePerformanceCounter) {
  std::int64_t before = 0;
  std::int64_t after = 0;
  plat::QueryPerformanceCounter(&before);
  const ClockStamp stamp = ClockStamp::Now();
  plat::QueryPerformanceCounter(&after);
  EXPECT_GE(stamp.total_milliseconds(), before / 1000000);
  EXPECT_LE(stamp.total_milliseconds(), after / 1000000);
}

TEST(ClockStampTest, AdvancesWithTheMonotonicClockAndNeverGoesBack) {
  const ClockStamp first = ClockStamp::Now();
  const auto start = std::chrono::steady_clock::now();
  ClockStamp previous = first;
  for (int i = 0; i < 10000; ++i) {
    const ClockStamp now = ClockStamp::Now();
    ASSERT_GE(now.total_milliseconds(), previous.total_milliseconds());
    previous = now;
  }
  std::this_thread::sleep_for(120ms);
  const ClockStamp last = ClockStamp::Now();
  const auto elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();
  const std::int64_t advanced = last.total_milliseconds() - first.total_milliseconds();
  EXPECT_GE(advanced, 119);  // whole milliseconds may round down once at each end
  EXPECT_LE(advanced, elapsed_ms + 1);
}

}  // namespace
