#include "inbound_queue.h"

#include <algorithm>
#include <cstring>

namespace ksn {

bool InboundQueue::Push(natsMsg* msg, std::size_t skip) {
  const auto total = static_cast<std::size_t>(natsMsg_GetDataLength(msg));
  const std::size_t length = total > skip ? total - skip : 0;
  // An empty queue always takes one message, so that no size starves.
  if (length == 0 || (!entries_.empty() && queued_bytes_ + length > max_bytes_)) {
    if (length != 0)
      ++dropped_;
    natsMsg_Destroy(msg);
    return length == 0;
  }
  entries_.push_back({msg, natsMsg_GetData(msg) + skip, length});
  queued_bytes_ += length;
  return true;
}

std::size_t InboundQueue::Read(void* out, std::size_t capacity, std::vector<natsMsg*>* spent) {
  auto* dest = static_cast<char*>(out);
  std::size_t copied = 0;
  while (copied < capacity && !entries_.empty()) {
    Entry& front = entries_.front();
    const std::size_t n = std::min(capacity - copied, front.length - front_read_);
    std::memcpy(dest + copied, front.data + front_read_, n);
    copied += n;
    front_read_ += n;
    queued_bytes_ -= n;
    if (front_read_ == front.length) {
      spent->push_back(front.msg);
      entries_.pop_front();
      front_read_ = 0;
    }
  }
  return copied;
}

void InboundQueue::Clear() {
  for (const Entry& entry : entries_)
    natsMsg_Destroy(entry.msg);
  entries_.clear();
  front_read_ = 0;
  queued_bytes_ = 0;
}

}  // namespace ksn
