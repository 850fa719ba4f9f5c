// Counts events in a sliding time window of equal slots, one window for the
// incoming and one for the outgoing direction. The manager counts frames with
// it and holds back frames while the outgoing count reaches its limit.
#pragma once

#include <cstdint>
#include <memory>

#include "common/clock_stamp.h"

class bandwith_recorder {
 public:
  // A window of window_ms milliseconds in `slots` slots, started at `now`.
  bandwith_recorder(std::uint32_t window_ms, std::uint32_t slots,
                    ClockStamp now = ClockStamp::Now());
  bandwith_recorder(const bandwith_recorder&) = delete;
  bandwith_recorder& operator=(const bandwith_recorder&) = delete;
  virtual ~bandwith_recorder();

  // Empties both windows and numbers slots from `now` on. A slot count of 0,
  // or a window shorter than one millisecond per slot, is taken as 1.
  void reset(std::uint32_t window_ms, std::uint32_t slots, ClockStamp now = ClockStamp::Now());

  void add_in(std::uint32_t count, ClockStamp time);
  void add_out(std::uint32_t count, ClockStamp time);

  // The window's count after moving it to `time`.
  std::uint32_t cur_in(ClockStamp time);
  std::uint32_t cur_out(ClockStamp time);

  std::uint32_t slot_count() const { return slot_count_; }
  std::uint32_t slot_length() const { return slot_length_; }

 private:
  void add(std::uint32_t* slots, std::uint64_t& base, std::uint32_t count, ClockStamp time);
  std::uint32_t sum(const std::uint32_t* slots) const;

  std::uint32_t slot_count_ = 1;
  std::uint32_t slot_length_ = 1;  // milliseconds
  std::unique_ptr<std::uint32_t[]> in_slots_;
  std::unique_ptr<std::uint32_t[]> out_slots_;
  std::uint64_t in_base_ = 0;   // absolute index of the oldest incoming slot
  std::uint64_t out_base_ = 0;  // absolute index of the oldest outgoing slot
  ClockStamp start_;
};
