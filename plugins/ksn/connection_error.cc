#include "connection_error.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace ksn {
namespace {

struct UrlParts {
  std::string scheme;    // with "://", or empty
  std::string userinfo;  // before '@', or empty
  std::string hostport;
};

UrlParts SplitUrl(const std::string& url) {
  UrlParts parts;
  std::string rest = url;
  const std::size_t scheme_end = rest.find("://");
  if (scheme_end != std::string::npos) {
    parts.scheme = rest.substr(0, scheme_end + 3);
    rest.erase(0, scheme_end + 3);
  }
  const std::size_t at = rest.rfind('@');
  if (at != std::string::npos) {
    parts.userinfo = rest.substr(0, at);
    rest.erase(0, at + 1);
  }
  parts.hostport = rest;
  return parts;
}

bool ValidHostPort(const std::string& hostport) {
  std::string host = hostport;
  std::string port;
  if (!host.empty() && host[0] == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string::npos)
      return false;
    port = host.substr(close + 1);
    host = host.substr(1, close - 1);
    if (!port.empty() && port[0] != ':')
      return false;
    if (!port.empty())
      port.erase(0, 1);
  } else if (const std::size_t colon = host.find(':'); colon != std::string::npos) {
    port = host.substr(colon + 1);
    host.erase(colon);
    if (port.empty())
      return false;
  }
  if (host.empty() || host.find_first_of(" \t/?#@[]") != std::string::npos)
    return false;
  if (port.empty())
    return true;
  if (port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const long number = std::strtol(port.c_str(), nullptr, 10);
  return number > 0 && number < 65536;
}

bool ValidUrl(const std::string& url) {
  const UrlParts parts = SplitUrl(url);
  if (!parts.scheme.empty() && parts.scheme != "nats://" && parts.scheme != "tls://")
    return false;
  return ValidHostPort(parts.hostport);
}

// Every secret the settings hold, for scrubbing texts that are not ours.
std::vector<std::string> Secrets(const KsnSettings& settings) {
  std::vector<std::string> secrets;
  if (!settings.token.empty())
    secrets.push_back(settings.token);
  for (const std::string& server : settings.servers) {
    const std::string userinfo = SplitUrl(server).userinfo;
    const std::size_t colon = userinfo.find(':');
    const std::string secret = colon == std::string::npos ? userinfo : userinfo.substr(colon + 1);
    if (!secret.empty())
      secrets.push_back(secret);
  }
  return secrets;
}

std::string Scrub(std::string text, const KsnSettings& settings) {
  for (const std::string& secret : Secrets(settings)) {
    for (std::size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + 3))
      text.replace(at, secret.size(), "***");
  }
  return text;
}

bool Readable(const std::string& path, const char* what, const char* variable,
              ConnectError* error) {
  errno = 0;
  std::ifstream file(path);
  if (file)
    return true;
  error->kind = ConnectFailure::kBadSettings;
  error->text = std::string("bad setting ") + variable + ": cannot read the " + what + " '" + path +
                "': " + (errno ? std::strerror(errno) : "unreadable");
  return false;
}

// The value after "<name>=" in cnats's "a:b:name=value:..." handshake detail.
std::string Field(const std::string& detail, const std::string& name) {
  const std::size_t at = detail.find(":" + name + "=");
  if (at == std::string::npos)
    return "";
  const std::size_t start = at + name.size() + 2;
  const std::size_t end = detail.find(':', start);
  return detail.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// "SSL handshake error: 20:unable to get local issuer certificate:depth=0:cert=..."
std::string HandshakeReason(const std::string& detail) {
  const std::string marker = "handshake error: ";
  std::size_t start = detail.find(marker);
  if (start == std::string::npos)
    return detail;
  start += marker.size();
  const std::size_t colon = detail.find(':', start);
  if (colon != std::string::npos &&
      detail.find_first_not_of("0123456789", start) == colon)  // a numeric code first
    start = colon + 1;
  const std::size_t end = detail.find(":depth=", start);
  return detail.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string LoginTried(const KsnSettings& settings) {
  if (!settings.creds_file.empty())
    return "the credentials of '" + settings.creds_file + "' (KSN_NATS_CREDS)";
  if (!settings.token.empty())
    return "the token of KSN_NATS_TOKEN";
  for (const std::string& server : settings.servers) {
    const std::string userinfo = SplitUrl(server).userinfo;
    const std::size_t colon = userinfo.find(':');
    if (colon != std::string::npos)
      return "user '" + userinfo.substr(0, colon) + "' and the password in KSN_NATS_URL";
    if (!userinfo.empty())
      return "the token in KSN_NATS_URL";
  }
  return "no login was given: set KSN_NATS_TOKEN, KSN_NATS_CREDS or user:password in KSN_NATS_URL";
}

ConnectError TlsFailure(const KsnSettings& settings, natsStatus status, const std::string& detail) {
  const std::string servers = ServerListText(settings);
  ConnectError error{ConnectFailure::kTls, ""};
  if (status == NATS_SECURE_CONNECTION_WANTED) {
    error.text = "the settings ask for TLS (KSN_NATS_CA) but the NATS server at " + servers +
                 " does not offer it";
  } else if (status == NATS_SECURE_CONNECTION_REQUIRED) {
    error.text = "the NATS server at " + servers +
                 " requires TLS: set KSN_NATS_CA to the CA file that signed its certificate";
  } else if (status == NATS_PROTOCOL_ERROR) {
    // The server ends the connection right after the handshake when it does
    // not accept the client's certificate (TLS 1.3 tells no earlier).
    error.text =
        "TLS: the NATS server at " + servers + " closed the connection after the handshake";
    error.text +=
        settings.cert_file.empty()
            ? ": it may require a client certificate (KSN_NATS_CERT and KSN_NATS_KEY)"
            : ": it refused the client certificate '" + settings.cert_file + "' (KSN_NATS_CERT)";
  } else {
    const std::string cert = Field(detail, "cert");
    const std::string issuer = Field(detail, "issuer");
    error.text = "TLS handshake with " + servers + " failed: ";
    if (!cert.empty()) {
      error.text += "the server's certificate " + cert;
      if (!issuer.empty())
        error.text += " (issuer " + issuer + ")";
      error.text += settings.ca_file.empty()
                        ? " is not trusted by the system's CAs; set KSN_NATS_CA to its CA file"
                        : " is not trusted by the CA file '" + settings.ca_file + "' (KSN_NATS_CA)";
      error.text += ": " + HandshakeReason(detail);
    } else {
      error.text += HandshakeReason(detail);
      if (!settings.ca_file.empty())
        error.text += " (CA file '" + settings.ca_file + "')";
    }
  }
  return error;
}

}  // namespace

std::string RedactUrl(const std::string& url) {
  const UrlParts parts = SplitUrl(url);
  if (parts.userinfo.empty())
    return url;
  const std::size_t colon = parts.userinfo.find(':');
  const std::string shown =
      colon == std::string::npos ? "***" : parts.userinfo.substr(0, colon) + ":***";
  return parts.scheme + shown + "@" + parts.hostport;
}

std::string ServerListText(const KsnSettings& settings) {
  std::string text;
  for (const std::string& server : settings.servers)
    text += (text.empty() ? "" : ", ") + RedactUrl(server);
  return text;
}

bool CheckConnectSettings(const KsnSettings& settings, ConnectError* error) {
  if (settings.servers.empty()) {
    *error = {ConnectFailure::kBadSettings, "bad setting KSN_NATS_URL: no NATS server address"};
    return false;
  }
  for (const std::string& server : settings.servers) {
    if (!ValidUrl(server)) {
      *error = {ConnectFailure::kBadSettings,
                "bad setting KSN_NATS_URL: '" + RedactUrl(server) +
                    "' is not a NATS server address (nats://host:port)"};
      return false;
    }
  }
  if (settings.cert_file.empty() != settings.key_file.empty()) {
    *error = {ConnectFailure::kBadSettings,
              "bad setting: KSN_NATS_CERT and KSN_NATS_KEY are given together or not at all"};
    return false;
  }
  return (settings.ca_file.empty() ||
          Readable(settings.ca_file, "CA file", "KSN_NATS_CA", error)) &&
         (settings.cert_file.empty() ||
          Readable(settings.cert_file, "client certificate", "KSN_NATS_CERT", error)) &&
         (settings.key_file.empty() ||
          Readable(settings.key_file, "client key", "KSN_NATS_KEY", error)) &&
         (settings.creds_file.empty() ||
          Readable(settings.creds_file, "credentials file", "KSN_NATS_CREDS", error));
}

ConnectError DescribeConnectFailure(const KsnSettings& settings, natsStatus status) {
  const char* last = nats_GetLastError(nullptr);
  const std::string detail = Scrub(last ? last : "", settings);
  const std::string servers = ServerListText(settings);
  const bool tls_asked = !settings.ca_file.empty() || !settings.cert_file.empty();
  if (status == NATS_CONNECTION_AUTH_FAILED || detail.find("Authorization") != std::string::npos)
    return {ConnectFailure::kLoginRefused,
            "the NATS server refused the login at " + servers + ": " + LoginTried(settings)};
  if (status == NATS_SSL_ERROR || status == NATS_SECURE_CONNECTION_REQUIRED ||
      status == NATS_SECURE_CONNECTION_WANTED || (status == NATS_PROTOCOL_ERROR && tls_asked))
    return TlsFailure(settings, status, detail);
  if (status == NATS_NO_SERVER || status == NATS_TIMEOUT)
    return {ConnectFailure::kNoServer, "no NATS server reachable at " + servers};
  if (status == NATS_INVALID_ARG || status == NATS_ADDRESS_MISSING)
    return {ConnectFailure::kBadSettings, "bad setting KSN_NATS_URL: " + detail};
  std::string text = "cannot connect to the NATS server at " + servers + ": " +
                     Scrub(natsStatus_GetText(status), settings);
  if (!detail.empty())
    text += " (" + detail + ")";
  return {ConnectFailure::kOther, text};
}

}  // namespace ksn
