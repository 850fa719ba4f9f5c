// The sessions of one control object: the table by handle and by subject,
// what the pairing decides, the keys it agrees, heartbeats and silence, the
// sealed messages in both directions, and the notices that wait for each
// session's owner thread.
//
// Threads: the host's threads open, close, send and receive; cnats's threads
// deliver frames; the control's ticker calls Tick; each session's owner
// thread takes its notices in Deliver. One lock guards the table and every
// session in it; no host code runs under it. What travels on the bus, and
// how it is proved before anything acts on it, is in session_wire.cc.
#pragma once

#include <nats/nats.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "annotated_mutex.h"
#include "conference_session.h"
#include "external/ksn_notify.h"
#include "ksn_settings.h"
#include "nats_link.h"
#include "owner_dispatch.h"
#include "session_pairing.h"

namespace ksn {

class ConferenceSessions final : public ConnectionListener {
 public:
  ConferenceSessions(const KsnSettings& settings, NatsLink& link, WakeWindows& wakes);
  ~ConferenceSessions();
  ConferenceSessions(const ConferenceSessions&) = delete;
  ConferenceSessions& operator=(const ConferenceSessions&) = delete;

  // These throw KSN::exception as the control's operations document. Open
  // takes a handle and sink already checked, and the opener's wake window.
  void Open(const std::string& handle, KSN::ksnNotify* sink, plat::HWND window);
  void Close(const std::string& handle);
  std::int32_t Send(const std::string& handle, const void* data, std::uint32_t length);
  std::int32_t Recv(const std::string& handle, void* buffer, std::uint32_t capacity);
  bool IsConnected(const std::string& handle);
  SessionStats Stats(const std::string& handle);
  // One line per session: handle, phase and what it dropped.
  std::string Describe();

  // Beats, gives up on silent partners, says HELLO again, retries wakes.
  void Tick(std::chrono::steady_clock::time_point now, bool online);
  // On the owner thread of `window`: hands each of its sessions' notices to the sink.
  void Deliver(plat::HWND window);
  // A lost connection holds every session for the grace period; once it is
  // back, each pairs again with fresh keys.
  void OnConnectionLost() override;
  void OnConnectionBack() override;

  // Says BYE to every partner and forgets every session; returns the
  // subscriptions for the link to destroy once cnats is quiet.
  std::vector<natsSubscription*> Stop();
  // Lets go of the sinks of the sessions Stop forgot.
  void ReleaseSinks();

 private:
  using Session = ConferenceSession;
  // A frame to publish once the lock is released.
  struct Publication {
    std::string subject;
    std::string reply;
    std::string bytes;
  };

  static void OnConferenceMessage(natsConnection* nc, natsSubscription* sub, natsMsg* msg,
                                  void* closure);
  static void OnSessionMessage(natsConnection* nc, natsSubscription* sub, natsMsg* msg,
                               void* closure);

  std::shared_ptr<Session> Find(const std::string& handle) VC_REQUIRES(mutex_);  // throws
  void Forget(Session& session) VC_REQUIRES(mutex_);
  // Takes a sealed message to `session`; false when the message was kept.
  bool TakeSealed(Session& session, natsMsg* msg) VC_REQUIRES(mutex_);
  // A pairing message that proved itself; false when it did not.
  bool TakePairing(Session& session, natsMsg* msg) VC_REQUIRES(mutex_);
  void TakeLegacy(Session& session) VC_REQUIRES(mutex_);
  void CountUnopened(Session& session) VC_REQUIRES(mutex_);
  void HandleControl(Session& session, const FrameHeader& frame, const char* reply)
      VC_REQUIRES(mutex_);
  void ApplyEvent(Session& session, PairingEvent event) VC_REQUIRES(mutex_);
  // Starts the session's pairing over with a fresh key and says HELLO.
  void Rejoin(Session& session, SteadyTime now) VC_REQUIRES(mutex_);
  // Past the grace period: closes a session that has not paired again.
  void EndRejoin(Session& session, bool online) VC_REQUIRES(mutex_);
  void AddNotice(Session& session, Notice notice) VC_REQUIRES(mutex_);
  void Queue(Session& session, const std::vector<Outgoing>& frames) VC_REQUIRES(mutex_);
  void Publish(std::vector<Publication> frames);
  // Keeps a message that is done with for the next batch.
  void Spend(natsMsg* msg) VC_REQUIRES(mutex_) {
    spent_.push_back(msg);
    DestroySpent(false);
  }
  // Destroys the batch once it is full, or whatever is kept with `all`
  // (cheap enough under the lock: cnats only queues them).
  void DestroySpent(bool all) VC_REQUIRES(mutex_);

  const KsnSettings settings_;
  const PairingTiming timing_;
  NatsLink& link_;
  WakeWindows& wakes_;

  Mutex mutex_;
  std::map<std::string, std::shared_ptr<Session>> by_handle_ VC_GUARDED_BY(mutex_);
  // By the conference subject and by the session's own address.
  std::unordered_map<std::string, std::shared_ptr<Session>> by_subject_ VC_GUARDED_BY(mutex_);
  std::unordered_map<std::string, std::shared_ptr<Session>> by_address_ VC_GUARDED_BY(mutex_);
  std::vector<Publication> outbox_ VC_GUARDED_BY(mutex_);  // filled under the lock, sent after it
  std::vector<std::shared_ptr<Session>> stopped_ VC_GUARDED_BY(mutex_);
  // Messages done with, destroyed together: one wake of cnats's freeing
  // thread per batch rather than one per message.
  std::vector<natsMsg*> spent_ VC_GUARDED_BY(mutex_);
  bool stopping_ VC_GUARDED_BY(mutex_) = false;
  bool offline_ VC_GUARDED_BY(mutex_) = false;  // between a drop and cnats's reconnect
};

}  // namespace ksn
