#include "capture/graph_event_queue.h"

#include "capture/capture_messages.h"
#include "plat/message.h"

void GraphEventQueue::Push(std::int32_t code) {
  bool first = false;
  {
    std::lock_guard<std::mutex> hold(lock_);
    // A source that keeps failing cannot grow the queue without bound while
    // the owner thread is not pumping.
    if (codes_.size() >= 64) {
      return;
    }
    first = codes_.empty();
    codes_.push_back(code);
  }
  if (first && notify_ != 0) {
    plat::PostMessage(notify_, WM_GRAPH_NOTIFY, 0, 0);
  }
}

bool GraphEventQueue::GetEvent(std::int32_t* code) {
  std::lock_guard<std::mutex> hold(lock_);
  if (codes_.empty()) {
    return false;
  }
  *code = codes_.front();
  codes_.pop_front();
  return true;
}
