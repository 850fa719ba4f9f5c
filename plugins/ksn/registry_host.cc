#include "registry_host.h"

#include <unistd.h>

#include <utility>

#include "external/ksn_exception.h"
#include "ksn_errors.h"
#include "wire_frame.h"

namespace ksn {
namespace {

// Requests waiting for threads that do not pump are refused past this.
constexpr std::size_t kMaxPendingCalls = 256;

std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

}  // namespace

RegistryHost::RegistryHost(std::uint64_t member, NatsLink& link, WakeWindows& wakes,
                           ControlAnswer control, std::unique_ptr<ConsoleDoor> door)
    : member_(member),
      link_(link),
      wakes_(wakes),
      control_(std::move(control)),
      door_(std::move(door)) {}

std::vector<NatsLink::Standing> RegistryHost::Subscriptions() {
  if (!door_)
    return {};
  return {{kRegistryListSubject, &RegistryHost::OnListRequest, this},
          {RegistrySubject(member_), &RegistryHost::OnRegistryRequest, this}};
}

void RegistryHost::Register(const char* path, ksn::object* object, plat::HWND window) {
  MutexLock lock(mutex_);
  objects_[path] = {object, window};
}

void RegistryHost::Unregister(const char* path) {
  MutexLock lock(mutex_);
  objects_.erase(path);
}

void RegistryHost::RetryWakes() {
  MutexLock lock(mutex_);
  for (const PendingCall& call : calls_)
    wakes_.Wake(call.window);
}

void RegistryHost::Clear() {
  MutexLock lock(mutex_);
  objects_.clear();
  calls_.clear();
}

bool RegistryHost::Admit(natsMsg* msg, std::string* text, ConsoleTag* tag) {
  const bool admitted =
      door_->Admit(natsMsg_GetSubject(msg), natsMsg_GetReply(msg), natsMsg_GetData(msg),
                   static_cast<std::size_t>(natsMsg_GetDataLength(msg)), text, tag);
  if (!admitted)
    natsMsg_Destroy(msg);
  return admitted;
}

void RegistryHost::Reply(const std::string& subject, const ConsoleTag& tag,
                         const std::string& text) {
  link_.Publish(subject, "", door_->Seal(tag, text));
}

void RegistryHost::OnListRequest(natsConnection*, natsSubscription*, natsMsg* msg, void* closure) {
  auto* self = static_cast<RegistryHost*>(closure);
  std::string text;
  ConsoleTag tag;
  if (!self->Admit(msg, &text, &tag))
    return;
  PeerListing listing;
  listing.member = HexId(self->member_);
  listing.host = HostName();
  listing.pid = static_cast<long>(getpid());
  {
    MutexLock lock(self->mutex_);
    for (const auto& [path, object] : self->objects_)
      listing.objects.push_back(path);
  }
  listing.objects.push_back(kControlObjectPath);
  self->Reply(natsMsg_GetReply(msg), tag, FormatListing(listing));
  natsMsg_Destroy(msg);
}

// The object is called on its own thread: the request waits there.
void RegistryHost::OnRegistryRequest(natsConnection*, natsSubscription*, natsMsg* msg,
                                     void* closure) {
  auto* self = static_cast<RegistryHost*>(closure);
  PendingCall call;
  std::string text;
  if (!self->Admit(msg, &text, &call.tag))
    return;
  call.reply_to = natsMsg_GetReply(msg);  // the door admits nothing without one
  natsMsg_Destroy(msg);
  if (!ParseRequest(text.data(), text.size(), &call.request)) {
    self->Reply(call.reply_to, call.tag, FormatReply({false, kBadRequest, "unreadable request"}));
    return;
  }
  if (call.request.path == kControlObjectPath) {
    self->Reply(call.reply_to, call.tag, FormatReply(self->control_(call.request)));
    return;
  }
  {
    MutexLock lock(self->mutex_);
    const auto it = self->objects_.find(call.request.path);
    if (it != self->objects_.end() && self->calls_.size() < kMaxPendingCalls) {
      call.window = it->second.window;
      self->calls_.push_back(call);
      self->wakes_.Wake(call.window);
      return;
    }
  }
  self->Reply(call.reply_to, call.tag,
              FormatReply({false, kUnknownObject,
                           "no object at " + call.request.path +
                               " (or too many requests waiting for it)"}));
}

void RegistryHost::RunCalls(plat::HWND window) {
  std::vector<PendingCall> calls;
  {
    MutexLock lock(mutex_);
    for (auto it = calls_.begin(); it != calls_.end();) {
      if (it->window == window) {
        calls.push_back(std::move(*it));
        it = calls_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const PendingCall& call : calls)
    RunCall(call);
}

void RegistryHost::RunCall(const PendingCall& call) {
  ksn::object* object = nullptr;
  {
    MutexLock lock(mutex_);
    const auto it = objects_.find(call.request.path);
    if (it != objects_.end() && it->second.window == call.window)
      object = it->second.object;
  }
  RegistryReply reply{false, kUnknownObject, "no object at " + call.request.path};
  if (object) {
    try {
      if (call.request.is_set) {
        object->Set(call.request.key.c_str(), call.request.value);
        reply = {true, 0, ""};
      } else {
        reply = {true, 0, object->Get(call.request.key.c_str())};
      }
    } catch (const KSN::exception& e) {
      reply = {false, e.error_code, e.what()};
    } catch (const std::exception& e) {
      reply = {false, kObjectFailed, e.what()};
    } catch (...) {
      reply = {false, kObjectFailed, "unknown failure"};
    }
  }
  Reply(call.reply_to, call.tag, FormatReply(reply));
}

}  // namespace ksn
