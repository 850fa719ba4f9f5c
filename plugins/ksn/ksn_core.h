// The working part of a control object: one NATS connection, the sessions
// opened over it, and the diagnostic registry it answers for.
//
// Threads: the host's threads call the public operations; cnats's threads
// deliver messages and connection events; a ticker thread beats and watches
// for silence; a connector thread makes the first connection so that no host
// call waits for the network. Notifications and registry calls reach the
// host only through the wake window of the thread that opened the session or
// registered the object (owner_dispatch.h). One mutex guards everything; no
// host code runs under it.
#pragma once

#include <nats/nats.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "external/ksn_notify.h"
#include "external/ksn_object.h"
#include "ksn_settings.h"
#include "owner_dispatch.h"
#include "registry_text.h"
#include "session_pairing.h"

namespace ksn {

// What a session has thrown away, for operators and tests.
struct SessionStats {
  std::uint64_t dropped_full = 0;     // whole messages dropped: the owner did not keep up
  std::uint64_t dropped_foreign = 0;  // frames from someone other than the partner
  std::uint64_t lost_in_transit = 0;  // gaps in the partner's numbering
};

class KsnCore final : public WakeTarget, public std::enable_shared_from_this<KsnCore> {
 public:
  // The library's own diagnostic object: Get("sessions") lists each session
  // with its phase and what it dropped.
  static constexpr char kControlObjectPath[] = "ksn/control";

  explicit KsnCore(const KsnSettings& settings);
  ~KsnCore();
  KsnCore(const KsnCore&) = delete;
  KsnCore& operator=(const KsnCore&) = delete;

  // Starts connecting in the background.
  void Start();
  // Says BYE to partners, closes the connection and waits for cnats to stop
  // calling back. No notification is delivered afterwards.
  void Shutdown();

  void OpenSession(const std::string& handle, KSN::ksnNotify* sink);
  void CloseSession(const std::string& handle);
  std::int32_t Send(const std::string& handle, const void* data, std::uint32_t length);
  std::int32_t Recv(const std::string& handle, void* buffer, std::uint32_t capacity);
  bool IsReady() const { return ready_.load(); }
  bool IsConnected(const std::string& handle);
  void RegisterObject(const char* path, ksn::object* object);
  void UnregisterObject(const char* path);

  SessionStats Stats(const std::string& handle);
  std::uint64_t member() const { return member_; }

  void OnWake(plat::HWND window) override;

 private:
  struct Notice {
    enum Kind { kConnect, kRecv, kClose } kind;
    std::uint32_t code;
    std::string text;
  };
  struct Session;
  struct PendingCall {
    plat::HWND window;
    RegistryRequest request;
    std::string reply_to;
  };
  struct RegisteredObject {
    ksn::object* object;
    plat::HWND window;
  };
  // A frame to publish once the lock is released.
  struct Publication {
    std::string subject;
    std::string reply;
    std::string bytes;
  };

  static void OnDisconnected(natsConnection* nc, void* closure);
  static void OnReconnected(natsConnection* nc, void* closure);
  static void OnClosed(natsConnection* nc, void* closure);
  static void OnError(natsConnection* nc, natsSubscription* sub, natsStatus status, void* closure);
  static void OnSubscriptionDone(void* closure);
  static void OnConferenceMessage(natsConnection* nc, natsSubscription* sub, natsMsg* msg,
                                  void* closure);
  static void OnMemberMessage(natsConnection* nc, natsSubscription* sub, natsMsg* msg,
                              void* closure);
  static void OnListRequest(natsConnection* nc, natsSubscription* sub, natsMsg* msg, void* closure);
  static void OnRegistryRequest(natsConnection* nc, natsSubscription* sub, natsMsg* msg,
                                void* closure);

  void ConnectLoop();
  void TickLoop();
  natsSubscription* Subscribe(const std::string& subject, natsMsgHandler handler);
  plat::HWND WindowForThisThread();
  std::shared_ptr<Session> Find(const std::string& handle);  // under mutex_; throws

  // Under mutex_.
  void HandleControl(Session& session, const FrameHeader& frame, const char* reply);
  void ApplyEvent(Session& session, PairingEvent event);
  void AddNotice(Session& session, Notice notice);
  void Wake(plat::HWND window);
  void Queue(const Session& session, const std::vector<Outgoing>& frames);
  void SetConnected(bool connected);

  void Publish(std::vector<Publication> frames);
  void Deliver(const std::shared_ptr<Session>& session, const Notice& notice);
  void RunCall(const PendingCall& call);
  RegistryReply AnswerForControl(const RegistryRequest& request);
  void Reply(const std::string& subject, const RegistryReply& reply);

  const KsnSettings settings_;
  const PairingTiming timing_;
  const std::uint64_t member_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, std::shared_ptr<Session>> by_handle_;
  std::unordered_map<std::uint64_t, std::shared_ptr<Session>> by_id_;
  std::unordered_map<std::string, std::shared_ptr<Session>> by_subject_;
  std::map<plat::DWORD, plat::HWND> windows_;
  std::map<plat::HWND, bool> wake_posted_;
  std::map<std::string, RegisteredObject> objects_;
  std::deque<PendingCall> calls_;
  std::vector<Publication> outbox_;  // filled under the lock, sent after it
  std::vector<natsSubscription*> own_subscriptions_;

  std::atomic<natsConnection*> nc_{nullptr};
  std::atomic<bool> ready_{false};
  bool connected_ = false;
  bool subscribed_ = false;
  bool stopping_ = false;
  bool closed_ = false;
  int live_subscriptions_ = 0;
  std::string last_error_;
  std::shared_ptr<KsnCore> keep_alive_;  // set only if cnats would not stop

  std::thread connector_;
  std::thread ticker_;
};

}  // namespace ksn
