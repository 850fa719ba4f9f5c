// An operator's view of the diagnostic registry: which members are on the
// NATS server, which objects each has registered, and Get/Set on them.
#pragma once

#include <nats/nats.h>

#include <memory>
#include <string>
#include <vector>

#include "ksn_settings.h"
#include "registry_text.h"

namespace ksn {

class RegistryClient {
 public:
  // Connects at once (waiting at most the client's connect timeout); null
  // with `error` set when no server answers or the login is refused.
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

 private:
  explicit RegistryClient(natsConnection* nc) : nc_(nc) {}
  RegistryReply Call(const std::string& member, const RegistryRequest& request, int timeout_ms);

  natsConnection* nc_;
};

}  // namespace ksn
