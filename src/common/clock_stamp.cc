#include "common/clock_stamp.h"

#include "plat/kernel.h"

ClockStamp ClockStamp::Now() {
  std::int64_t counter = 0;
  std::int64_t frequency = 0;
  std::int64_t seconds = 0;
  std::int64_t micros = 0;
  if (plat::QueryPerformanceFrequency(&frequency) && frequency >= 1000000 &&
      plat::QueryPerformanceCounter(&counter)) {
    seconds = counter / frequency;
    // Scaled before dividing so that a frequency that is not a multiple of
    // 10^6 still gives microseconds below 10^6.
    micros = (counter % frequency) * 1000000 / frequency;
  } else {
    const auto count = static_cast<std::int64_t>(plat::GetSystemTimeAsFileTime());
    seconds = count / 10000000;
    micros = (count % 10000000) / 10;
  }
  ClockStamp stamp;
  stamp.seconds = seconds;
  stamp.milliseconds = static_cast<std::uint16_t>(micros / 1000);
  return stamp;
}
