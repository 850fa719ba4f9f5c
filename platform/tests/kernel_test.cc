// Clocks and UUID text. The executable's path and thread ids are what the
// kernel says, read as it says them.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <set>
#include <thread>

#include "plat/plat.h"

namespace {

using namespace std::chrono_literals;

TEST(PerformanceCounterTest, NanosecondsOfTheMonotonicClock) {
  std::int64_t frequency = 0;
  ASSERT_TRUE(plat::QueryPerformanceFrequency(&frequency));
  EXPECT_EQ(frequency, 1000000000);
  EXPECT_FALSE(plat::QueryPerformanceCounter(nullptr));
  EXPECT_FALSE(plat::QueryPerformanceFrequency(nullptr));
  const auto start = std::chrono::steady_clock::now();
  std::int64_t first = 0;
  ASSERT_TRUE(plat::QueryPerformanceCounter(&first));
  std::this_thread::sleep_for(100ms);
  std::int64_t after = 0;
  plat::QueryPerformanceCounter(&after);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(after - first, 100000000);
  EXPECT_LE(after - first, std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
}

TEST(SystemTimeTest, FileTimeMillisecondsAndFtimeAgree) {
  auto system_ms = [] {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  };
  const std::int64_t system_before = system_ms();
  const std::uint64_t file_time = plat::GetSystemTimeAsFileTime();
  const std::int64_t wall = plat::WallClockMilliseconds();
  plat::Timeb64 tb;
  plat::ftime64(&tb);
  const std::int64_t system_after = system_ms();

  // 1601-01-01 to 1970-01-01 in milliseconds.
  const std::int64_t from_file_time = static_cast<std::int64_t>(file_time / 10000) - 11644473600000;
  for (std::int64_t ms : {from_file_time, wall, tb.time * 1000 + tb.millitm}) {
    EXPECT_GE(ms, system_before);
    EXPECT_LE(ms, system_after);
  }
  plat::ftime64(nullptr);
}

TEST(UuidTest, LowerCaseTextOfRandomUuids) {
  const std::regex form("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string text = plat::CreateUuidText();
    ASSERT_EQ(text.size(), 36u);
    ASSERT_TRUE(std::regex_match(text, form)) << text;
    EXPECT_TRUE(seen.insert(text).second);
  }
}

}  // namespace
