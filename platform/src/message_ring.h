// The posted messages of one queue, oldest first, in storage that is kept and
// reused: a ring that only grows, so that posting and taking messages
// allocate nothing once the queue has seen its busiest moment (a deque
// frees and allocates a block every few messages as they pass through).
#pragma once

#include <cstddef>
#include <vector>

#include "plat/types.h"

namespace plat::internal {

class MessageRing {
 public:
  std::size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }
  // The i-th message, 0 being the oldest.
  const MSG& operator[](std::size_t i) const { return slots_[(head_ + i) & (slots_.size() - 1)]; }

  // Throws std::bad_alloc when the ring must grow and cannot.
  void PushBack(const MSG& msg);
  // Removes the i-th message; the others keep their order.
  void Erase(std::size_t i);
  void Clear() { head_ = count_ = 0; }

  // The index of the oldest message `accepts` takes, size() for none.
  template <class Accepts>
  std::size_t FindFirst(Accepts accepts) const {
    std::size_t i = 0;
    while (i < count_ && !accepts((*this)[i]))
      ++i;
    return i;
  }

 private:
  MSG& At(std::size_t i) { return slots_[(head_ + i) & (slots_.size() - 1)]; }

  std::vector<MSG> slots_;  // a power of two in size, or empty
  std::size_t head_ = 0;
  std::size_t count_ = 0;
};

}  // namespace plat::internal
