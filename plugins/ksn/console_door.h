// The peer's side of the console over NATS: a request is answered only when
// it is signed with the console key for the subject it came on and the
// subject its reply goes to, is stamped within the window and was not seen
// before. Everything else is counted and summed up in the log at most once a
// second. Thread-safe: cnats's threads call it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "annotated_mutex.h"
#include "console_auth.h"
#include "console_gate.h"
#include "ksn_settings.h"

namespace ksn {

class ConsoleDoor {
 public:
  // Null when the settings hold no console key; null with `error` set when
  // the key is unusable. Either way the peer then keeps its console off the bus.
  static std::unique_ptr<ConsoleDoor> Open(const KsnSettings& settings, std::string* error);

  // The request's text and tag when it may be answered; false (counted) otherwise.
  bool Admit(const std::string& subject, const char* reply_to, const char* data, std::size_t length,
             std::string* text, ConsoleTag* tag);
  std::string Seal(const ConsoleTag& request, const std::string& text) const;

  std::uint64_t refused() const;

 private:
  explicit ConsoleDoor(std::unique_ptr<ConsoleAuth> auth) : auth_(std::move(auth)) {}
  void Refuse() VC_REQUIRES(mutex_);

  const std::unique_ptr<ConsoleAuth> auth_;
  mutable Mutex mutex_;
  ConsoleGate gate_ VC_GUARDED_BY(mutex_);
  std::uint64_t refused_ VC_GUARDED_BY(mutex_) = 0;
  std::uint64_t unreported_ VC_GUARDED_BY(mutex_) = 0;
  std::chrono::steady_clock::time_point last_report_ VC_GUARDED_BY(mutex_){};
};

}  // namespace ksn
