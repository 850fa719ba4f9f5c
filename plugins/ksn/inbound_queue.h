// The messages of one session that wait for their owner thread, read back as
// one byte stream.
#pragma once

#include <nats/nats.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace ksn {

// Not locked: the session's owner keeps it under its lock. Bounded by bytes:
// a message that does not fit is dropped whole and counted, so the reader
// never sees part of one.
class InboundQueue {
 public:
  explicit InboundQueue(std::size_t max_bytes) : max_bytes_(max_bytes) {}
  ~InboundQueue() { Clear(); }
  InboundQueue(const InboundQueue&) = delete;
  InboundQueue& operator=(const InboundQueue&) = delete;

  // Takes ownership of `msg`; its bytes past `skip` are the payload. False
  // when it was dropped for want of room.
  bool Push(natsMsg* msg, std::size_t skip);
  // Copies up to `capacity` bytes in arrival order; returns how many. The
  // messages read to the end go to `spent`, for the caller to destroy in a
  // batch (cnats frees each destroyed message on a thread of its own, which
  // it wakes for every one that comes alone).
  std::size_t Read(void* out, std::size_t capacity, std::vector<natsMsg*>* spent);
  void Clear();

  bool empty() const { return entries_.empty(); }
  std::size_t queued_bytes() const { return queued_bytes_; }
  std::uint64_t dropped() const { return dropped_; }

 private:
  struct Entry {
    natsMsg* msg;
    const char* data;
    std::size_t length;
  };

  std::size_t max_bytes_;
  std::deque<Entry> entries_;
  std::size_t front_read_ = 0;  // bytes of the front entry already read
  std::size_t queued_bytes_ = 0;
  std::uint64_t dropped_ = 0;
};

}  // namespace ksn
