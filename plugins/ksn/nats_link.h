// The one NATS connection of a control object: made in the background,
// retried until it holds, then kept by cnats's own reconnects; closed in an
// order that guarantees cnats calls nobody back afterwards.
//
// Threads: a connector thread makes the first connection; the connection's
// reader (connection_reader.h) reads it and runs the subscriptions'
// handlers; cnats's threads report connection events and reconnect; anyone
// may publish, and sends on its own thread. Its own lock guards the
// connection's state; no caller's code runs under it.
#pragma once

#include <nats/nats.h>

#include <atomic>
#include <condition_variable>
#include <string>
#include <thread>
#include <vector>

#include "annotated_mutex.h"
#include "connection_reader.h"
#include "ksn_settings.h"

namespace ksn {

// Told when the connection drops and when cnats has it back (subscriptions
// in place again): every session rides on it.
class ConnectionListener {
 public:
  virtual void OnConnectionLost() = 0;
  virtual void OnConnectionBack() = 0;

 protected:
  ~ConnectionListener() = default;
};

class NatsLink {
 public:
  // A subscription made as soon as the connection holds; the link is ready
  // only once all of them are in place.
  struct Standing {
    std::string subject;
    natsMsgHandler handler;
    void* closure;
  };

  NatsLink(const KsnSettings& settings, ConnectionListener* listener);
  ~NatsLink();
  NatsLink(const NatsLink&) = delete;
  NatsLink& operator=(const NatsLink&) = delete;

  // Starts connecting in the background.
  void Start(std::vector<Standing> standing);
  bool ready() const { return ready_.load(); }
  // Connection failures are kept quiet until someone needs the connection (a
  // host that only lists cameras has nothing to hear about NATS): from this
  // call on each new one is logged, the latest at once.
  void ReportFailures();
  // Null until the first connection holds.
  natsConnection* connection() const { return nc_.load(); }
  // Null on failure. `handler` runs on the connection's reader until Drop,
  // or until Close has returned true.
  natsSubscription* Subscribe(const std::string& subject, natsMsgHandler handler, void* closure);
  // Ends a subscription: its handler is not running and is not called again.
  // Not from a handler.
  void Drop(natsSubscription* sub);
  // Sends what was queued; nothing while there is no connection.
  void Publish(const std::string& subject, const std::string& reply, const std::string& bytes);
  // Sends `length` bytes on this thread; false when cnats refused them.
  bool Send(natsConnection* nc, const std::string& subject, const void* data, int length);

  // Stops the connector; drops are no longer reported.
  void StopConnecting();
  // Flushes, closes, stops the reader and waits for cnats to stop calling
  // back, then destroys `subscriptions`, the standing ones and the
  // connection. False when cnats did not stop in time: then nothing is
  // destroyed, and the caller must keep every closure alive for good.
  bool Close(const std::vector<natsSubscription*>& subscriptions);

 private:
  static void OnDisconnected(natsConnection* nc, void* closure);
  static void OnReconnected(natsConnection* nc, void* closure);
  static void OnClosed(natsConnection* nc, void* closure);
  static void OnError(natsConnection* nc, natsSubscription* sub, natsStatus status, void* closure);

  void ConnectLoop(std::vector<Standing> standing);
  void SetConnected(bool connected) VC_REQUIRES(mutex_);
  void ConnectFailed(const std::string& text) VC_REQUIRES(mutex_);

  const KsnSettings settings_;
  ConnectionListener* const listener_;

  Mutex mutex_;
  std::condition_variable_any changed_;
  std::vector<natsSubscription*> own_subscriptions_ VC_GUARDED_BY(mutex_);
  bool connected_ VC_GUARDED_BY(mutex_) = false;
  bool subscribed_ VC_GUARDED_BY(mutex_) = false;
  bool stopping_ VC_GUARDED_BY(mutex_) = false;
  bool closed_ VC_GUARDED_BY(mutex_) = false;
  std::string last_error_ VC_GUARDED_BY(mutex_);
  std::string connect_error_ VC_GUARDED_BY(mutex_);   // why the first connection fails
  std::string reported_error_ VC_GUARDED_BY(mutex_);  // the last one logged
  bool report_failures_ VC_GUARDED_BY(mutex_) = false;

  ConnectionReader reader_;
  std::atomic<natsConnection*> nc_{nullptr};
  std::atomic<bool> ready_{false};
  std::thread connector_;
};

}  // namespace ksn
