#include "thread_queue.h"

#include "plat/message.h"
#include "window_registry.h"

namespace plat::internal {
namespace {

class ThreadQueue {
 public:
  ThreadQueue() : thread_(GetCurrentThreadId()), queue_(std::make_shared<MessageQueue>()) {}
  ~ThreadQueue() {
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

}  // namespace

MessageQueue& CurrentThreadQueue() { return *Current().queue(); }

std::shared_ptr<MessageQueue> SharedThreadQueue() { return Current().queue(); }

}  // namespace plat::internal
