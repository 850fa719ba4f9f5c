// Where the manager reads the time: the performance counter in the product,
// a clock the test sets in tests, so that a test can let a second pass
// without waiting for it.
#pragma once

#include <memory>

#include "common/clock_stamp.h"

namespace COMM {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual ClockStamp Now() = 0;
};

// ClockStamp::Now(), through the interface.
std::shared_ptr<Clock> RealClock();

}  // namespace COMM
