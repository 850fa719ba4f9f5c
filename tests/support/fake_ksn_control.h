// A peer-network library's control object driven by hand: it writes down
// every call, hands out queued bytes through Recv, delivers notifications
// through the sink a session gave it, and throws KSN::exception from any call
// on request. Built into the test support library for tests that hand it to
// the module, and into a loadable stand-in library (fake_ksn_library.cc) for
// tests that let the module load it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/ref_ptr.h"
#include "external/ksn_control.h"
#include "external/ksn_exception.h"
#include "external/ksn_notify.h"

namespace vc_test {

class FakeKSNControl final : public KSNControl {
 public:
  static COMM::RefPtr<FakeKSNControl> Create();
  // A new object carrying one reference for the caller, as "iksnCreate" gives.
  static FakeKSNControl* CreateRaw();

  // Every call, in order: "OpenSession <h> <type> <flags>", "CloseSession <h>",
  // "Send <h> <length>", "Recv <h> <capacity>", "IsReady", "IsConnected <h>",
  // "RegisterObject <path>", "UnregisterObject <path>". Recv calls are left
  // out while record_recv is false.
  std::vector<std::string> calls;
  bool record_recv = true;
  // When set, every call is also appended to this file, one line each, and
  // the object's end as "release": the journal of a loaded stand-in, which
  // outlives the module that released it.
  std::string journal;
  // The bytes of every Send, in order.
  std::vector<std::string> sent;
  // IsReady's answer, and the handles IsConnected calls connected.
  bool ready = true;
  std::set<std::string> connected;
  // Runs inside every call, after it is written down and before it does
  // anything else (or throws); the name is the call's first word.
  std::function<void(const std::string& call, const std::string& handle)> inside;

  // The next `times` calls named `call` throw KSN::exception(message, code).
  void ThrowFrom(const std::string& call, int times = 1, const std::string& message = "ksn failure",
                 std::int32_t code = 77);

  // The sink OpenSession was last given for the handle; null before.
  KSN::ksnNotify* sink(const std::string& handle) const;
  std::int32_t sink_count(const std::string& handle) const;

  // Queues bytes for the handle: each Recv takes at most one piece of at most
  // `piece` bytes (and never more than its capacity).
  void Queue(const std::string& handle, std::string_view bytes, std::size_t piece = SIZE_MAX);
  std::size_t queued(const std::string& handle) const;

  // Notifications through the handle's sink (nothing without one).
  void Deliver(const std::string& handle, std::string_view bytes, std::size_t piece = SIZE_MAX);
  void NotifyRecv(const std::string& handle);
  void NotifyConnect(const std::string& handle, std::uint32_t code = 0, const char* error = "ok");
  void NotifyClose(const std::string& handle, std::uint32_t code = 0,
                   const char* error = "closed by peer");

  // KSNControl
  void OpenSession(const std::string& handle, std::int32_t type, KSN::ksnNotify* sink,
                   std::int32_t flags) override;
  void CloseSession(const std::string& handle) override;
  std::int32_t Send(const std::string& handle, const void* data, std::uint32_t length) override;
  std::int32_t Recv(const std::string& handle, void* buffer, std::uint32_t capacity) override;
  bool IsReady() override;
  bool IsConnected(const std::string& handle) override;
  void RegisterObject(const char* path, ksn::object* object) override;
  void UnregisterObject(const char* path) override;

 private:
  FakeKSNControl() = default;
  ~FakeKSNControl() override;

  void Enter(const std::string& call, const std::string& handle, const std::string& line);

  struct Failure {
    int times = 0;
    std::string message;
    std::int32_t code = 0;
  };
  std::map<std::string, Failure> failures_;
  std::map<std::string, COMM::RefPtr<KSN::ksnNotify>> sinks_;
  std::map<std::string, std::deque<std::string>> inbound_;
};

// Appends one line to the file at `path`; nothing for an empty path.
void AppendLine(const std::string& path, const std::string& line);

}  // namespace vc_test
