// A clock that moves only when the test moves it.
#pragma once

#include <chrono>
#include <cstdint>

#include "common/clock.h"

namespace vc_test {

class ManualClock final : public COMM::Clock {
 public:
  ClockStamp Now() override {
    ClockStamp stamp;
    stamp.seconds = milliseconds_ / 1000;
    stamp.milliseconds = static_cast<std::uint16_t>(milliseconds_ % 1000);
    return stamp;
  }
  void Advance(std::chrono::milliseconds by) { milliseconds_ += by.count(); }

 private:
  std::int64_t milliseconds_ = 1000000;
};

}  // namespace vc_test
