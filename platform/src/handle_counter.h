// Window handles: a 32-bit counter that only moves forward, so that a handle
// of a destroyed window is not given out again until the counter wraps.
#pragma once

#include <cstdint>

namespace plat::internal {

class HandleCounter {
 public:
  explicit HandleCounter(std::uint32_t next = 1) : next_(next) {}

  // The next handle that is neither 0 nor live (`is_live(handle)` true).
  template <typename IsLive>
  std::uint32_t Next(IsLive&& is_live) {
    for (;;) {
      const std::uint32_t candidate = next_++;
      if (candidate != 0 && !is_live(candidate))
        return candidate;
    }
  }

 private:
  std::uint32_t next_;
};

}  // namespace plat::internal
