#include "registry_client.h"

#include <chrono>
#include <cstdlib>

#include "ksn_errors.h"
#include "nats_connection_options.h"
#include "wire_frame.h"

namespace ksn {

std::unique_ptr<RegistryClient> RegistryClient::Connect(const KsnSettings& settings,
                                                        std::string* error) {
  NatsOptionsPtr options = MakeNatsOptions(settings, error);
  if (!options)
    return nullptr;
  natsConnection* nc = nullptr;
  const natsStatus status = natsConnection_Connect(&nc, options.get());
  if (status != NATS_OK) {
    *error = natsStatus_GetText(status);
    const char* detail = nats_GetLastError(nullptr);
    if (detail && *detail)
      *error += std::string(" (") + detail + ")";
    return nullptr;
  }
  return std::unique_ptr<RegistryClient>(new RegistryClient(nc));
}

RegistryClient::~RegistryClient() {
  natsConnection_Destroy(nc_);
}

std::vector<PeerListing> RegistryClient::ListPeers(int wait_ms) {
  std::vector<PeerListing> peers;
  natsInbox* inbox = nullptr;
  natsSubscription* sub = nullptr;
  if (natsInbox_Create(&inbox) != NATS_OK)
    return peers;
  if (natsConnection_SubscribeSync(&sub, nc_, inbox) == NATS_OK &&
      natsConnection_PublishRequest(nc_, kRegistryListSubject, inbox, "", 0) == NATS_OK) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      natsMsg* msg = nullptr;
      if (left <= 0 || natsSubscription_NextMsg(&msg, sub, left) != NATS_OK)
        break;
      PeerListing listing;
      if (ParseListing(natsMsg_GetData(msg), static_cast<std::size_t>(natsMsg_GetDataLength(msg)),
                       &listing))
        peers.push_back(std::move(listing));
      natsMsg_Destroy(msg);
    }
  }
  natsSubscription_Destroy(sub);
  natsInbox_Destroy(inbox);
  return peers;
}

RegistryReply RegistryClient::Call(const std::string& member, const RegistryRequest& request,
                                   int timeout_ms) {
  const std::string text = FormatRequest(request);
  natsMsg* reply = nullptr;
  const natsStatus status =
      natsConnection_Request(&reply, nc_, ("ksn.r." + member).c_str(), text.data(),
                             static_cast<int>(text.size()), timeout_ms);
  if (status != NATS_OK)
    return {false, kUnknownObject, std::string("no answer: ") + natsStatus_GetText(status)};
  RegistryReply result =
      ParseReply(natsMsg_GetData(reply), static_cast<std::size_t>(natsMsg_GetDataLength(reply)));
  natsMsg_Destroy(reply);
  return result;
}

RegistryReply RegistryClient::Get(const std::string& member, const std::string& path,
                                  const std::string& key, int timeout_ms) {
  return Call(member, {false, path, key, ""}, timeout_ms);
}

RegistryReply RegistryClient::Set(const std::string& member, const std::string& path,
                                  const std::string& key, const std::string& value,
                                  int timeout_ms) {
  if (key.find('\n') != std::string::npos)
    return {false, kBadRequest, "a key holds no line break"};
  return Call(member, {true, path, key, value}, timeout_ms);
}

}  // namespace ksn
