// The calling thread's message queue, made on first use. When the thread
// ends, its queue is closed and its remaining windows are removed (their
// procedures cannot run any more, so they get no WM_DESTROY).
#pragma once

#include <memory>

#include "message_queue.h"

namespace plat::internal {

MessageQueue& CurrentThreadQueue();
// The same queue, for a window that keeps it to post to.
std::shared_ptr<MessageQueue> SharedThreadQueue();

}  // namespace plat::internal
