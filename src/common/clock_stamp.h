// The manager's cached clock: whole seconds and milliseconds.
#pragma once

#include <cstdint>

struct ClockStamp {
  std::int64_t seconds = 0;
  std::uint16_t milliseconds = 0;  // 0..999
  std::uint16_t reserved1 = 0;     // always 0
  std::uint16_t reserved2 = 0;     // always 0

  // Milliseconds since the clock's origin.
  std::int64_t total_milliseconds() const { return seconds * 1000 + milliseconds; }

  // The clock now: the performance counter when there is one, else the
  // system time in 100 ns units.
  static ClockStamp Now();

  friend bool operator==(const ClockStamp&, const ClockStamp&) = default;
};
