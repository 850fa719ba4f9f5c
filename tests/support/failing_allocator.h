// Makes large allocations fail on demand, to drive the display's handling of
// memory it cannot get.
#pragma once

#include <cstddef>

namespace vc_test {

// While alive, every allocation through operator new of at least `bytes`
// bytes throws std::bad_alloc (nothrow forms return null).
class ScopedAllocationLimit {
 public:
  explicit ScopedAllocationLimit(std::size_t bytes);
  ~ScopedAllocationLimit();
  ScopedAllocationLimit(const ScopedAllocationLimit&) = delete;
  ScopedAllocationLimit& operator=(const ScopedAllocationLimit&) = delete;

 private:
  std::size_t previous_;
};

// False under ThreadSanitizer, whose runtime owns operator new: there the
// limit has no effect, and tests leave out what depends on it.
bool AllocationLimitWorks();

}  // namespace vc_test
