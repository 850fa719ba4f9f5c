#include "registry_client.h"

#include <chrono>

#include "connection_error.h"
#include "ksn_errors.h"
#include "nats_connection_options.h"
#include "wire_frame.h"

namespace ksn {

std::unique_ptr<RegistryClient> RegistryClient::Connect(const KsnSettings& settings,
                                                        std::string* error) {
  std::unique_ptr<ConsoleAuth> auth = ConsoleAuth::Load(settings.console_key, error);
  if (!auth) {
    if (error->empty())
      *error =
          "no console key: set KSN_CONSOLE_KEY to the peers' console key (or a file "
          "holding it)";
    return nullptr;
  }
  NatsOptionsPtr options = MakeNatsOptions(settings, error);
  if (!options)
    return nullptr;
  natsConnection* nc = nullptr;
  const natsStatus status = natsConnection_Connect(&nc, options.get());
  if (status != NATS_OK) {
    *error = DescribeConnectFailure(settings, status).text;
    return nullptr;
  }
  return std::unique_ptr<RegistryClient>(new RegistryClient(nc, std::move(auth)));
}

RegistryClient::~RegistryClient() {
  natsConnection_Destroy(nc_);
}

template <typename Take>
void RegistryClient::Ask(const std::string& subject, const std::string& text, int wait_ms,
                         Take take) {
  natsInbox* inbox = nullptr;
  natsSubscription* sub = nullptr;
  if (natsInbox_Create(&inbox) != NATS_OK)
    return;
  ConsoleTag tag;
  const std::string wire = auth_->SignRequest(subject, inbox, ConsoleNowMs(), text, &tag);
  if (natsConnection_SubscribeSync(&sub, nc_, inbox) == NATS_OK &&
      natsConnection_PublishRequest(nc_, subject.c_str(), inbox, wire.data(),
                                    static_cast<int>(wire.size())) == NATS_OK) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (bool more = true; more;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      natsMsg* msg = nullptr;
      if (left <= 0 || natsSubscription_NextMsg(&msg, sub, left) != NATS_OK)
        break;
      std::string reply;
      if (auth_->OpenReply(tag, natsMsg_GetData(msg),
                           static_cast<std::size_t>(natsMsg_GetDataLength(msg)), &reply))
        more = take(reply);
      else
        ++forged_;
      natsMsg_Destroy(msg);
    }
  }
  natsSubscription_Destroy(sub);
  natsInbox_Destroy(inbox);
}

std::vector<PeerListing> RegistryClient::ListPeers(int wait_ms) {
  std::vector<PeerListing> peers;
  Ask(kRegistryListSubject, "list", wait_ms, [&](const std::string& text) {
    PeerListing listing;
    if (ParseListing(text.data(), text.size(), &listing))
      peers.push_back(std::move(listing));
    return true;
  });
  return peers;
}

RegistryReply RegistryClient::Call(const std::string& member, const RegistryRequest& request,
                                   int timeout_ms) {
  // Members are 16 hex digits; nothing else becomes a subject.
  if (member.size() != 16 || member.find_first_not_of("0123456789abcdef") != std::string::npos)
    return {false, kBadRequest, "no member '" + member + "': members are 16 hex digits"};
  RegistryReply result{false, kUnknownObject,
                       "no answer within " + std::to_string(timeout_ms) + " ms"};
  Ask(RegistrySubject(std::stoull(member, nullptr, 16)), FormatRequest(request), timeout_ms,
      [&](const std::string& text) {
        result = ParseReply(text.data(), text.size());
        return false;
      });
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
