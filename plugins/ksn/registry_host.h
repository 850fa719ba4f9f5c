// The diagnostic registry a control object answers for over NATS: the
// objects the host registered, each called on the thread that registered it,
// and the library's own "ksn/control". Only an operator holding the console
// key is answered (console_door.h); without a key the host subscribes to
// nothing, so the console is not on the bus at all.
//
// Threads: the host's threads register and unregister; cnats's threads take
// requests; each object's thread runs its calls in RunCalls. Its own lock,
// apart from the sessions'; no object is called under it.
#pragma once

#include <nats/nats.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "annotated_mutex.h"
#include "console_door.h"
#include "external/ksn_object.h"
#include "nats_link.h"
#include "owner_dispatch.h"
#include "registry_text.h"

namespace ksn {

class RegistryHost {
 public:
  // The library's own diagnostic object: Get("sessions") lists each session
  // with its phase and what it dropped.
  static constexpr char kControlObjectPath[] = "ksn/control";

  // Answers requests to kControlObjectPath; it runs on cnats's thread.
  using ControlAnswer = std::function<RegistryReply(const RegistryRequest&)>;

  // `door` null: no console key, no console.
  RegistryHost(std::uint64_t member, NatsLink& link, WakeWindows& wakes, ControlAnswer control,
               std::unique_ptr<ConsoleDoor> door);
  RegistryHost(const RegistryHost&) = delete;
  RegistryHost& operator=(const RegistryHost&) = delete;

  // What the link subscribes for the registry: the listing and this member's
  // requests; nothing without a console key.
  std::vector<NatsLink::Standing> Subscriptions();

  void Register(const char* path, ksn::object* object, plat::HWND window);
  void Unregister(const char* path);
  // On the thread of `window`: runs the calls waiting for its objects.
  void RunCalls(plat::HWND window);
  // Wakes that found a full queue are tried again.
  void RetryWakes();
  // Forgets every object and every waiting call.
  void Clear();

 private:
  struct PendingCall {
    plat::HWND window;
    RegistryRequest request;
    std::string reply_to;
    ConsoleTag tag;
  };
  struct RegisteredObject {
    ksn::object* object;
    plat::HWND window;
  };

  static void OnListRequest(natsConnection* nc, natsSubscription* sub, natsMsg* msg, void* closure);
  static void OnRegistryRequest(natsConnection* nc, natsSubscription* sub, natsMsg* msg,
                                void* closure);

  void RunCall(const PendingCall& call);
  // The request's text, when the door lets it in.
  bool Admit(natsMsg* msg, std::string* text, ConsoleTag* tag);
  void Reply(const std::string& subject, const ConsoleTag& tag, const std::string& text);

  const std::uint64_t member_;
  NatsLink& link_;
  WakeWindows& wakes_;
  const ControlAnswer control_;
  const std::unique_ptr<ConsoleDoor> door_;

  Mutex mutex_;
  std::map<std::string, RegisteredObject> objects_ VC_GUARDED_BY(mutex_);
  std::deque<PendingCall> calls_ VC_GUARDED_BY(mutex_);
};

}  // namespace ksn
