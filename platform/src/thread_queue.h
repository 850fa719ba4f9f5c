// The calling thread's message queue, made on first use. When the thread
// ends, its queue is closed and its remaining windows are removed (their
// procedures cannot run any more, so they get no WM_DESTROY). Code that runs
// later in the thread's teardown (other thread_local destructors) gets a
// closed queue that holds nothing and accepts nothing.
#pragma once

#include <memory>

#include "message_queue.h"

namespace plat::internal {

MessageQueue& CurrentThreadQueue();
// The same queue, for a window that keeps it to post to; null once the
// thread's teardown has closed it.
std::shared_ptr<MessageQueue> SharedThreadQueue();

}  // namespace plat::internal
