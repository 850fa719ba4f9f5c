// The performance counter and the system time: the clocks of plat/kernel.h.
#include <time.h>

#include "plat/kernel.h"

namespace plat {
namespace {

timespec Now(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return ts;
}

// Seconds from 1601-01-01 (FILETIME's origin) to 1970-01-01.
constexpr std::uint64_t kFileTimeEpochOffsetSeconds = 11644473600ULL;

}  // namespace

bool QueryPerformanceCounter(std::int64_t* count) {
  if (count == nullptr)
    return false;
  const timespec ts = Now(CLOCK_MONOTONIC);
  *count = static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  return true;
}

bool QueryPerformanceFrequency(std::int64_t* frequency) {
  if (frequency == nullptr)
    return false;
  *frequency = 1000000000;
  return true;
}

std::uint64_t GetSystemTimeAsFileTime() {
  const timespec ts = Now(CLOCK_REALTIME);
  return (static_cast<std::uint64_t>(ts.tv_sec) + kFileTimeEpochOffsetSeconds) * 10000000 +
         static_cast<std::uint64_t>(ts.tv_nsec) / 100;
}

void ftime64(Timeb64* tb) {
  if (tb == nullptr)
    return;
  const timespec ts = Now(CLOCK_REALTIME);
  tb->time = ts.tv_sec;
  tb->millitm = static_cast<std::uint16_t>(ts.tv_nsec / 1000000);
  tm local{};
  const time_t seconds = ts.tv_sec;
  if (localtime_r(&seconds, &local) != nullptr) {
    tb->dstflag = local.tm_isdst > 0 ? 1 : 0;
    // Minutes west of UTC of the standard (not daylight) time.
    tb->timezone = static_cast<std::int16_t>(-local.tm_gmtoff / 60 + (tb->dstflag ? 60 : 0));
  } else {
    tb->dstflag = 0;
    tb->timezone = 0;
  }
}

std::int64_t WallClockMilliseconds() {
  const timespec ts = Now(CLOCK_REALTIME);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace plat
