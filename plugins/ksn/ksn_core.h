// The working part of a control object: one NATS connection (nats_link.h),
// the sessions opened over it (conference_sessions.h) and the diagnostic
// registry it answers for (registry_host.h), put together and taken apart in
// the right order.
//
// Threads: the host's threads call the public operations; the connection's
// reader delivers messages, cnats's threads connection events; a ticker thread beats and watches
// for silence, twice a heartbeat period. Notifications and registry calls reach the host only
// through the wake window of the thread that opened the session or registered the object
// (owner_dispatch.h). Each part keeps its own lock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "annotated_mutex.h"
#include "conference_sessions.h"
#include "external/ksn_notify.h"
#include "external/ksn_object.h"
#include "ksn_settings.h"
#include "nats_link.h"
#include "owner_dispatch.h"
#include "registry_host.h"

namespace ksn {

class KsnCore final : public WakeTarget, public std::enable_shared_from_this<KsnCore> {
 public:
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
  void CloseSession(const std::string& handle) { sessions_.Close(handle); }
  std::int32_t Send(const std::string& handle, const void* data, std::uint32_t length) {
    return sessions_.Send(handle, data, length);
  }
  std::int32_t Recv(const std::string& handle, void* buffer, std::uint32_t capacity) {
    return sessions_.Recv(handle, buffer, capacity);
  }
  bool IsReady();
  bool IsConnected(const std::string& handle) { return sessions_.IsConnected(handle); }
  void RegisterObject(const char* path, ksn::object* object);
  void UnregisterObject(const char* path);

  SessionStats Stats(const std::string& handle) { return sessions_.Stats(handle); }
  std::uint64_t member() const { return member_; }

  void OnWake(plat::HWND window) override;

 private:
  void TickLoop();

  const std::uint64_t member_;
  const std::chrono::milliseconds tick_period_;
  WakeWindows wakes_;
  NatsLink link_;
  ConferenceSessions sessions_;
  RegistryHost registry_;

  Mutex mutex_;
  std::condition_variable_any changed_;
  bool stopping_ VC_GUARDED_BY(mutex_) = false;
  std::shared_ptr<KsnCore> keep_alive_;  // set only if cnats would not stop
  std::thread ticker_;
};

}  // namespace ksn
