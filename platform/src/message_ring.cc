#include "message_ring.h"

#include <algorithm>

namespace plat::internal {

void MessageRing::PushBack(const MSG& msg) {
  if (count_ == slots_.size()) {
    std::vector<MSG> bigger(std::max<std::size_t>(16, 2 * slots_.size()));
    for (std::size_t i = 0; i < count_; ++i)
      bigger[i] = (*this)[i];
    slots_.swap(bigger);
    head_ = 0;
  }
  At(count_++) = msg;
}

void MessageRing::Erase(std::size_t i) {
  if (i >= count_)
    return;
  if (i == 0) {
    head_ = (head_ + 1) & (slots_.size() - 1);
  } else {
    // Filtered takes come from the middle: the younger ones close the gap.
    for (std::size_t j = i; j + 1 < count_; ++j)
      At(j) = At(j + 1);
  }
  --count_;
}

}  // namespace plat::internal
