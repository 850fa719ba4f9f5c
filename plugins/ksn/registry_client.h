// An operator's view of the diagnostic registry: which members are on the
// NATS server, which objects each has registered, and Get/Set on them.
// Every request is signed with the console key and every reply must be
// sealed with it (console_auth.h); anything else is dropped and counted.
#pragma once

#include <nats/nats.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "console_auth.h"
#include "ksn_settings.h"
#include "registry_text.h"

namespace ksn {

class RegistryClient {
 public:
  // Connects at once (waiting at most the client's connect timeout); null
  // with `error` set, naming the cause, when the console key is missing or
  // unreadable or the connection fails (connection_error.h).
  static std::unique_ptr<RegistryClient> Connect(const KsnSettings& settings, std::string* error);
  ~RegistryClient();
  RegistryClient(const RegistryClient&) = delete;
  RegistryClient& operator=(const RegistryClient&) = delete;

  // Every member that answers within `wait_ms`.
  std::vector<PeerListing> ListPeers(int wait_ms);
  RegistryReply Get(const std::string& member, const std::string& path, const std::string& key,
                    int timeout_ms);
  RegistryReply Set(const std::string& member, const std::string& path, const std::string& key,
                    const std::string& value, int timeout_ms);

  // Replies that were not sealed with the console key for the request they
  // claimed to answer.
  std::size_t forged_replies() const { return forged_; }

 private:
  RegistryClient(natsConnection* nc, std::unique_ptr<ConsoleAuth> auth)
      : nc_(nc), auth_(std::move(auth)) {}
  // Sends `text` signed to `subject`; hands each reply that opens to
  // `take` until it returns false or `wait_ms` has passed.
  template <typename Take>
  void Ask(const std::string& subject, const std::string& text, int wait_ms, Take take);
  RegistryReply Call(const std::string& member, const RegistryRequest& request, int timeout_ms);

  natsConnection* nc_;
  std::unique_ptr<ConsoleAuth> auth_;
  std::size_t forged_ = 0;
};

}  // namespace ksn
