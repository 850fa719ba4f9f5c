// System times and UUID text (the performance counter is ClockStamp's test's).
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <set>

#include "plat/plat.h"

namespace {

TEST(KernelTest, SystemTimesAgreeWithTheSystemClock) {
  auto system_ms = [] {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  };
  const std::int64_t before = system_ms();
  const std::uint64_t file_time = plat::GetSystemTimeAsFileTime();
  const std::int64_t wall = plat::WallClockMilliseconds();
  plat::Timeb64 tb;
  plat::ftime64(&tb);
  const std::int64_t after = system_ms();
  // 100 ns units from 1601-01-01; 11644473600 s later the epoch of 1970 begins.
  const std::int64_t from_file_time = static_cast<std::int64_t>(file_time / 10000) - 11644473600000;
  for (std::int64_t ms : {from_file_time, wall, tb.time * 1000 + tb.millitm})
    EXPECT_TRUE(ms >= before && ms <= after) << ms;
}

TEST(KernelTest, UuidsAreLowerCaseTextOfDistinctRandomUuids) {
  const std::regex form("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string text = plat::CreateUuidText();
    ASSERT_TRUE(std::regex_match(text, form)) << text;
    EXPECT_TRUE(seen.insert(text).second);
  }
}

}  // namespace
