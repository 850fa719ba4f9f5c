// The connection's one reader thread. cnats runs in its event-loop mode with
// this thread as the loop, so it starts no reader of its own, and the
// subscriptions made here are synchronous, so it starts no delivery thread:
// this thread reads the socket, cnats parses and queues each message on its
// subscription, and the same thread takes the message off and calls its
// handler at once. A received message thus reaches the owner thread's queue
// one step from the socket, instead of crossing cnats's reader and a
// delivery thread first.
//
// Writes: cnats asks for the socket's write readiness when it holds bytes to
// send. A thread inside a WriteHere scope sends them itself before the scope
// ends, without waking anybody (a publish costs what it did before); bytes
// cnats buffers elsewhere (pings, a handler's reply) are sent by this thread.
#pragma once

#include <nats/nats.h>

#include <atomic>
#include <thread>
#include <vector>

#include "annotated_mutex.h"

namespace ksn {

class ConnectionReader {
 public:
  ConnectionReader();
  ~ConnectionReader();
  ConnectionReader(const ConnectionReader&) = delete;
  ConnectionReader& operator=(const ConnectionReader&) = delete;

  // Makes `options` use this reader and starts its thread; false (nothing
  // changed) when the thread or its wake-up descriptor cannot be had.
  bool Install(natsOptions* options) VC_EXCLUDES(mutex_, handlers_mutex_);

  // A subscription whose messages go to `handler` on this thread; null on failure.
  natsSubscription* Subscribe(natsConnection* nc, const char* subject, natsMsgHandler handler,
                              void* closure) VC_EXCLUDES(handlers_mutex_);
  // From its return on, `sub`'s handler is neither running nor called again.
  // Not from a handler.
  void Forget(natsSubscription* sub) VC_EXCLUDES(handlers_mutex_);

  // Ends the thread: no handler runs afterwards. Idempotent.
  void Stop() VC_EXCLUDES(mutex_);

  // Bytes cnats buffers on this thread while the scope lives are sent by
  // this thread when the scope ends (a send that would block is left to the
  // reader).
  class WriteHere {
   public:
    WriteHere(ConnectionReader& reader, natsConnection* nc);
    ~WriteHere();
    WriteHere(const WriteHere&) = delete;
    WriteHere& operator=(const WriteHere&) = delete;

   private:
    ConnectionReader& reader_;
    natsConnection* nc_;
    bool outer_;
  };

 private:
  struct Handler {
    natsSubscription* sub;
    natsConnection* nc;
    natsMsgHandler handler;
    void* closure;
  };

  static natsStatus Attach(void** user_data, void* loop, natsConnection* nc, natsSock socket);
  static natsStatus Read(void* user_data, bool add);
  static natsStatus Write(void* user_data, bool add);
  static natsStatus Detach(void* user_data);

  void Run() VC_EXCLUDES(mutex_, handlers_mutex_);
  // Hands every queued message to its handler.
  void Deliver() VC_EXCLUDES(handlers_mutex_);
  // Sends what cnats holds, one thread at a time; false when it held nothing.
  bool Flush(natsConnection* nc) VC_EXCLUDES(flush_mutex_);
  // Another thread changed what the loop waits for.
  void Wake();
  bool OnThisThread() const { return std::this_thread::get_id() == reader_id_.load(); }

  int wake_fd_ = -1;
  std::thread thread_;
  std::atomic<std::thread::id> reader_id_{};  // set by the thread itself

  Mutex mutex_;
  natsConnection* nc_ VC_GUARDED_BY(mutex_) = nullptr;
  int socket_ VC_GUARDED_BY(mutex_) = -1;
  bool reading_ VC_GUARDED_BY(mutex_) = false;
  bool writing_ VC_GUARDED_BY(mutex_) = false;
  // Bumped whenever the socket or the interest changes: a socket that poll
  // found closed is not polled again until then.
  unsigned generation_ VC_GUARDED_BY(mutex_) = 0;
  bool stopping_ VC_GUARDED_BY(mutex_) = false;

  // Taken first: cnats's lock and then mutex_ are taken inside it.
  Mutex flush_mutex_;

  // Held while a handler runs, so that Forget waits for it.
  Mutex handlers_mutex_;
  std::vector<Handler> handlers_ VC_GUARDED_BY(handlers_mutex_);
};

}  // namespace ksn
