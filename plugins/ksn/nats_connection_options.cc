#include "nats_connection_options.h"

#include <vector>

namespace ksn {
namespace {

bool Check(natsStatus status, const char* what, std::string* error) {
  if (status == NATS_OK)
    return true;
  *error = std::string(what) + ": " + natsStatus_GetText(status);
  const char* detail = nats_GetLastError(nullptr);
  if (detail && *detail)
    *error += std::string(" (") + detail + ")";
  return false;
}

}  // namespace

NatsOptionsPtr MakeNatsOptions(const KsnSettings& settings, std::string* error) {
  natsOptions* raw = nullptr;
  if (!Check(natsOptions_Create(&raw), "options", error))
    return nullptr;
  NatsOptionsPtr options(raw);
  std::vector<const char*> servers;
  for (const std::string& server : settings.servers)
    servers.push_back(server.c_str());
  if (servers.empty()) {
    *error = "no NATS server address";
    return nullptr;
  }
  if (!Check(natsOptions_SetServers(raw, servers.data(), static_cast<int>(servers.size())),
             "server address", error))
    return nullptr;
  if (!settings.token.empty() &&
      !Check(natsOptions_SetToken(raw, settings.token.c_str()), "token", error))
    return nullptr;
  if (!settings.creds_file.empty() &&
      !Check(natsOptions_SetUserCredentialsFromFiles(raw, settings.creds_file.c_str(), nullptr),
             "credentials file", error))
    return nullptr;
  if (!settings.ca_file.empty() &&
      (!Check(natsOptions_SetSecure(raw, true), "TLS", error) ||
       !Check(natsOptions_LoadCATrustedCertificates(raw, settings.ca_file.c_str()), "CA file",
              error)))
    return nullptr;
  if (!settings.cert_file.empty() &&
      !Check(natsOptions_LoadCertificatesChain(raw, settings.cert_file.c_str(),
                                               settings.key_file.c_str()),
             "client certificate", error))
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
