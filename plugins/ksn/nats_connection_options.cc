#include "nats_connection_options.h"

#include <vector>

#include "connection_error.h"

namespace ksn {
namespace {

bool Check(natsStatus status, const char* what, std::string* error) {
  if (status == NATS_OK)
    return true;
  *error = std::string("bad setting ") + what + ": " + natsStatus_GetText(status);
  const char* detail = nats_GetLastError(nullptr);
  if (detail && *detail)
    *error += std::string(" (") + detail + ")";
  return false;
}

}  // namespace

NatsOptionsPtr MakeNatsOptions(const KsnSettings& settings, std::string* error) {
  ConnectError bad;
  if (!CheckConnectSettings(settings, &bad)) {
    *error = bad.text;
    return nullptr;
  }
  natsOptions* raw = nullptr;
  if (!Check(natsOptions_Create(&raw), "options", error))
    return nullptr;
  NatsOptionsPtr options(raw);
  std::vector<const char*> servers;
  for (const std::string& server : settings.servers)
    servers.push_back(server.c_str());
  if (!Check(natsOptions_SetServers(raw, servers.data(), static_cast<int>(servers.size())),
             "KSN_NATS_URL", error))
    return nullptr;
  if (!settings.token.empty() &&
      !Check(natsOptions_SetToken(raw, settings.token.c_str()), "KSN_NATS_TOKEN", error))
    return nullptr;
  if (!settings.creds_file.empty() &&
      !Check(natsOptions_SetUserCredentialsFromFiles(raw, settings.creds_file.c_str(), nullptr),
             "KSN_NATS_CREDS", error))
    return nullptr;
  if (!settings.ca_file.empty() &&
      (!Check(natsOptions_SetSecure(raw, true), "TLS", error) ||
       !Check(natsOptions_LoadCATrustedCertificates(raw, settings.ca_file.c_str()), "KSN_NATS_CA",
              error)))
    return nullptr;
  if (!settings.cert_file.empty() &&
      !Check(natsOptions_LoadCertificatesChain(raw, settings.cert_file.c_str(),
                                               settings.key_file.c_str()),
             "KSN_NATS_CERT and KSN_NATS_KEY", error))
    return nullptr;
  const bool ok = Check(natsOptions_SetSendAsap(raw, true), "send asap", error) &&
                  Check(natsOptions_SetNoEcho(raw, true), "no echo", error) &&
                  Check(natsOptions_SetMaxReconnect(raw, -1), "reconnects", error) &&
                  Check(natsOptions_SetReconnectWait(raw, 250), "reconnect wait", error) &&
                  Check(natsOptions_SetTimeout(raw, 2000), "timeout", error) &&
                  Check(natsOptions_SetName(raw, "ksn"), "name", error);
  return ok ? std::move(options) : nullptr;
}

}  // namespace ksn
