#include "session/bandwith_recorder.h"

#include <algorithm>

namespace {

std::uint64_t Milliseconds(const ClockStamp& t) {
  return static_cast<std::uint64_t>(t.seconds) * 1000 + t.milliseconds;
}

}  // namespace

bandwith_recorder::bandwith_recorder(std::uint32_t window_ms, std::uint32_t slots, ClockStamp now) {
  reset(window_ms, slots, now);
}

bandwith_recorder::~bandwith_recorder() = default;

void bandwith_recorder::reset(std::uint32_t window_ms, std::uint32_t slots, ClockStamp now) {
  // Both values divide: neither may be 0.
  slot_count_ = std::max<std::uint32_t>(slots, 1);
  slot_length_ = std::max<std::uint32_t>(window_ms / slot_count_, 1);
  start_ = now;
  in_slots_ = std::make_unique<std::uint32_t[]>(slot_count_);
  out_slots_ = std::make_unique<std::uint32_t[]>(slot_count_);
  in_base_ = 0;
  out_base_ = 0;
}

void bandwith_recorder::add(std::uint32_t* slots, std::uint64_t& base, std::uint32_t count,
                            ClockStamp time) {
  const std::uint64_t now = Milliseconds(time);
  const std::uint64_t origin = Milliseconds(start_);
  const std::uint64_t elapsed = now > origin ? now - origin : 0;
  const std::uint64_t index = elapsed / slot_length_;
  const std::uint64_t n = slot_count_;

  // Move the window so that it ends at index; slots that leave it are zeroed
  // before they are reused. Earlier times leave the window where it is.
  if (index >= base && index - base >= n) {
    if (index - base >= 2 * n - 1) {
      std::fill_n(slots, n, 0u);
    } else {
      for (std::uint64_t i = base; i <= index - n; ++i)
        slots[i % n] = 0;
    }
    base = index + 1 - n;
  }
  slots[index % n] += count;
}

std::uint32_t bandwith_recorder::sum(const std::uint32_t* slots) const {
  std::uint32_t total = 0;
  for (std::uint32_t i = 0; i < slot_count_; ++i)
    total += slots[i];
  return total;
}

void bandwith_recorder::add_in(std::uint32_t count, ClockStamp time) {
  add(in_slots_.get(), in_base_, count, time);
}

void bandwith_recorder::add_out(std::uint32_t count, ClockStamp time) {
  add(out_slots_.get(), out_base_, count, time);
}

std::uint32_t bandwith_recorder::cur_in(ClockStamp time) {
  add_in(0, time);
  return sum(in_slots_.get());
}

std::uint32_t bandwith_recorder::cur_out(ClockStamp time) {
  add_out(0, time);
  return sum(out_slots_.get());
}
