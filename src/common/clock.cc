#include "common/clock.h"

namespace COMM {
namespace {

class PerformanceCounterClock final : public Clock {
 public:
  ClockStamp Now() override { return ClockStamp::Now(); }
};

}  // namespace

std::shared_ptr<Clock> RealClock() {
  return std::make_shared<PerformanceCounterClock>();
}

}  // namespace COMM
