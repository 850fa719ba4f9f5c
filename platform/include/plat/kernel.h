// Clocks, UUIDs and the process's own path.
#pragma once

#include <cstdint>
#include <string>

#include "plat/export.h"

namespace plat {

// The performance counter: CLOCK_MONOTONIC in nanoseconds, frequency 10^9.
PLAT_API bool QueryPerformanceCounter(std::int64_t* count);
PLAT_API bool QueryPerformanceFrequency(std::int64_t* frequency);

// CLOCK_REALTIME in 100 ns units since 1601-01-01 (a FILETIME).
PLAT_API std::uint64_t GetSystemTimeAsFileTime();

// CLOCK_REALTIME as _ftime64 gives it.
struct Timeb64 {
  std::int64_t time = 0;      // seconds since 1970-01-01 UTC
  std::uint16_t millitm = 0;  // 0..999
  std::int16_t timezone = 0;  // minutes west of UTC
  std::int16_t dstflag = 0;
};
PLAT_API void ftime64(Timeb64* tb);
// Wall-clock milliseconds since 1970-01-01 UTC.
PLAT_API std::int64_t WallClockMilliseconds();

// A new random UUID as 36-character lower-case text.
PLAT_API std::string CreateUuidText();

// The absolute path of the running executable (/proc/self/exe), empty if unknown.
PLAT_API std::string GetExecutablePath();

}  // namespace plat
