// The connection's reading, done by the thread that made the control object
// from its own message loop. cnats runs in its event-loop mode with that
// thread's queue as the loop: the socket is watched through a hidden window
// (WSAAsyncSelect), so cnats starts no reader thread; and the subscriptions
// made here are synchronous, so it starts no delivery thread. When data
// arrives, the owner thread wakes once, cnats parses and queues each message
// on its subscription, and the same thread takes the messages off and calls
// their handlers: no other thread is woken for a received message.
//
// Writes: cnats asks for the socket's write readiness when it holds bytes to
// send. A thread inside a WriteHere scope sends them itself before the scope
// ends (a publish costs what it did before); bytes cnats buffers elsewhere
// (pings, reconnects) are sent by the owner thread once the socket can take them.
#pragma once

#include <nats/nats.h>

#include <atomic>
#include <thread>
#include <vector>

#include "annotated_mutex.h"
#include "plat/types.h"

namespace ksn {

class ConnectionReader {
 public:
  ConnectionReader();
  ~ConnectionReader();
  ConnectionReader(const ConnectionReader&) = delete;
  ConnectionReader& operator=(const ConnectionReader&) = delete;

  // On the thread that will read (it must pump its messages): makes the
  // hidden window. False when it cannot.
  bool Open() VC_EXCLUDES(mutex_);
  // Makes `options` use this reader.
  bool Install(natsOptions* options);

  // A subscription whose messages go to `handler` on the reading thread;
  // null on failure.
  natsSubscription* Subscribe(natsConnection* nc, const char* subject, natsMsgHandler handler,
                              void* closure) VC_EXCLUDES(handlers_mutex_);
  // From its return on, `sub`'s handler is neither running on another thread
  // nor called again. Not from a handler.
  void Forget(natsSubscription* sub) VC_EXCLUDES(handlers_mutex_);

  // Sends what cnats holds, one thread at a time; false when it held nothing.
  bool Flush(natsConnection* nc) VC_EXCLUDES(flush_mutex_, mutex_);

  // No handler runs afterwards; the socket is no longer watched. Idempotent.
  void Stop() VC_EXCLUDES(mutex_);

  // Bytes cnats buffers on this thread while the scope lives are sent by
  // this thread when the scope ends (a send that would block is left to the
  // reading thread).
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
  static plat::LRESULT WindowProc(plat::HWND hwnd, plat::UINT message, plat::WPARAM wparam,
                                  plat::LPARAM lparam);

  // The socket is ready (FD_* `events`): read, send, deliver.
  void OnSocket(long events) VC_EXCLUDES(mutex_, handlers_mutex_);
  // Hands every queued message to its handler.
  void Deliver() VC_EXCLUDES(handlers_mutex_);
  // Tells the queue what to watch the socket for.
  void SelectLocked() VC_REQUIRES(mutex_);
  bool OnThisThread() const { return std::this_thread::get_id() == owner_; }

  std::thread::id owner_;  // set by Open, before cnats can call
  plat::HWND window_ = 0;  // likewise

  Mutex mutex_;
  natsConnection* nc_ VC_GUARDED_BY(mutex_) = nullptr;
  int socket_ VC_GUARDED_BY(mutex_) = -1;
  bool reading_ VC_GUARDED_BY(mutex_) = false;
  // cnats holds bytes that no WriteHere thread is sending.
  bool writing_ VC_GUARDED_BY(mutex_) = false;
  bool stopping_ VC_GUARDED_BY(mutex_) = false;
  // Bumped for every socket cnats attaches or detaches.
  unsigned generation_ VC_GUARDED_BY(mutex_) = 0;

  // Taken first: cnats's lock and then mutex_ are taken inside it.
  Mutex flush_mutex_;

  // Held while a handler runs, so that Forget waits for it.
  Mutex handlers_mutex_;
  std::vector<Handler> handlers_ VC_GUARDED_BY(handlers_mutex_);
};

}  // namespace ksn
