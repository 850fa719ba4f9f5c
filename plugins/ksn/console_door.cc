#include "console_door.h"

#include "ksn_log.h"

namespace ksn {

std::unique_ptr<ConsoleDoor> ConsoleDoor::Open(const KsnSettings& settings, std::string* error) {
  std::unique_ptr<ConsoleAuth> auth = ConsoleAuth::Load(settings.console_key, error);
  if (!auth)
    return nullptr;
  return std::unique_ptr<ConsoleDoor>(new ConsoleDoor(std::move(auth)));
}

bool ConsoleDoor::Admit(const std::string& subject, const char* reply_to, const char* data,
                        std::size_t length, std::string* text, ConsoleTag* tag) {
  SignedRequest request;
  // No reply subject, no answer: nothing to do for the request at all.
  const bool authentic =
      reply_to && *reply_to && auth_->OpenRequest(subject, reply_to, data, length, &request);
  MutexLock lock(mutex_);
  if (!authentic || !gate_.Admit(request.tag, request.time_ms, ConsoleNowMs())) {
    Refuse();
    return false;
  }
  *text = std::move(request.text);
  *tag = request.tag;
  return true;
}

std::string ConsoleDoor::Seal(const ConsoleTag& request, const std::string& text) const {
  return auth_->SealReply(request, text);
}

std::uint64_t ConsoleDoor::refused() const {
  MutexLock lock(mutex_);
  return refused_;
}

void ConsoleDoor::Refuse() {
  ++refused_;
  ++unreported_;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_report_ < std::chrono::seconds(1))
    return;
  Log("console: refused %llu request(s) not signed with the console key, stale or "
      "replayed (%llu in all)",
      static_cast<unsigned long long>(unreported_), static_cast<unsigned long long>(refused_));
  unreported_ = 0;
  last_report_ = now;
}

}  // namespace ksn
