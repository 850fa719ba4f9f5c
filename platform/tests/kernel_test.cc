// Clocks, UUID text, the executable's path and thread ids.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include "plat/plat.h"

namespace {

using namespace std::chrono_literals;

std::int64_t SystemMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TEST(PerformanceCounterTest, NanosecondsThatNeverGoBack) {
  std::int64_t frequency = 0;
  ASSERT_TRUE(plat::QueryPerformanceFrequency(&frequency));
  EXPECT_EQ(frequency, 1000000000);
  std::int64_t previous = 0;
  ASSERT_TRUE(plat::QueryPerformanceCounter(&previous));
  for (int i = 0; i < 100000; ++i) {
    std::int64_t now = 0;
    ASSERT_TRUE(plat::QueryPerformanceCounter(&now));
    ASSERT_GE(now, previous);
    previous = now;
  }
  EXPECT_FALSE(plat::QueryPerformanceCounter(nullptr));
  EXPECT_FALSE(plat::QueryPerformanceFrequency(nullptr));
}

TEST(PerformanceCounterTest, AdvancesWithTheMonotonicClock) {
  std::int64_t before = 0;
  std::int64_t after = 0;
  const auto start = std::chrono::steady_clock::now();
  plat::QueryPerformanceCounter(&before);
  std::this_thread::sleep_for(100ms);
  plat::QueryPerformanceCounter(&after);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(after - before, 100000000);
  EXPECT_LE(after - before, std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
}

TEST(SystemTimeTest, FileTimeMillisecondsAndFtimeAgree) {
  const std::int64_t system_before = SystemMilliseconds();
  const std::uint64_t file_time = plat::GetSystemTimeAsFileTime();
  const std::int64_t wall = plat::WallClockMilliseconds();
  plat::Timeb64 tb;
  plat::ftime64(&tb);
  const std::int64_t system_after = SystemMilliseconds();

  // 1601-01-01 to 1970-01-01 in milliseconds.
  const std::int64_t from_file_time = static_cast<std::int64_t>(file_time / 10000) - 11644473600000;
  for (std::int64_t ms : {from_file_time, wall, tb.time * 1000 + tb.millitm}) {
    EXPECT_GE(ms, system_before);
    EXPECT_LE(ms, system_after);
  }
  EXPECT_LT(tb.millitm, 1000);
  EXPECT_GE(tb.timezone, -16 * 60);
  EXPECT_LE(tb.timezone, 16 * 60);
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

TEST(ProcessTest, ExecutablePathIsThisProgram) {
  const std::string path = plat::GetExecutablePath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(std::filesystem::path(path), std::filesystem::canonical("/proc/self/exe"));
}

TEST(ProcessTest, ThreadIdsAreTheKernels) {
  const plat::DWORD mine = plat::GetCurrentThreadId();
  EXPECT_EQ(mine, static_cast<plat::DWORD>(gettid()));
  EXPECT_EQ(plat::GetCurrentThreadId(), mine);
  plat::DWORD other = 0;
  plat::DWORD other_kernel = 1;
  std::thread([&] {
    other = plat::GetCurrentThreadId();
    other_kernel = static_cast<plat::DWORD>(gettid());
  }).join();
  EXPECT_NE(other, mine);
  EXPECT_EQ(other, other_kernel);
}

}  // namespace
