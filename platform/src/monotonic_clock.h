// The clock that timers, message times and waits are measured on.
#pragma once

#include <time.h>

#include <cstdint>

namespace plat::internal {

// CLOCK_MONOTONIC in nanoseconds; the same clock as std::chrono::steady_clock
// and as the layer's timerfd.
inline std::int64_t MonotonicNanoseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// A message's time stamp: monotonic milliseconds, wrapping at 32 bits as on Windows.
inline std::uint32_t MonotonicMilliseconds() {
  return static_cast<std::uint32_t>(MonotonicNanoseconds() / 1000000);
}

}  // namespace plat::internal
