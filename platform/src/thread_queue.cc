#include "thread_queue.h"

#include "no_destructor.h"
#include "plat/message.h"
#include "window_registry.h"

namespace plat::internal {
namespace {

// Set when the thread's queue is gone; trivially destructible, so it can be
// read at any point of the thread's teardown.
thread_local bool queue_gone = false;

class ThreadQueue {
 public:
  ThreadQueue() : thread_(GetCurrentThreadId()), queue_(std::make_shared<MessageQueue>()) {}
  ~ThreadQueue() {
    queue_gone = true;
    queue_->Close();
    WindowRegistry::Instance().RemoveThreadWindows(thread_);
  }
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  const std::shared_ptr<MessageQueue>& queue() const { return queue_; }

 private:
  const DWORD thread_;
  const std::shared_ptr<MessageQueue> queue_;
};

ThreadQueue& Current() {
  thread_local ThreadQueue current;
  return current;
}

MessageQueue& EndedThreadQueue() {
  static NoDestructor<MessageQueue> ended;
  static const bool closed = (ended->Close(), true);
  static_cast<void>(closed);
  return *ended;
}

}  // namespace

MessageQueue& CurrentThreadQueue() {
  return queue_gone ? EndedThreadQueue() : *Current().queue();
}

std::shared_ptr<MessageQueue> SharedThreadQueue() {
  return queue_gone ? nullptr : Current().queue();
}

}  // namespace plat::internal
