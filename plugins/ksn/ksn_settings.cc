#include "ksn_settings.h"

#include <algorithm>
#include <cstdlib>

namespace ksn {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

std::vector<std::string> SplitServerList(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string::npos)
      end = text.size();
    std::string part = text.substr(start, end - start);
    const std::size_t first = part.find_first_not_of(" \t");
    const std::size_t last = part.find_last_not_of(" \t");
    if (first != std::string::npos)
      parts.push_back(part.substr(first, last - first + 1));
    start = end + 1;
  }
  return parts;
}

KsnSettings KsnSettings::FromEnvironment() {
  KsnSettings settings;
  const std::vector<std::string> servers = SplitServerList(Env("KSN_NATS_URL"));
  if (!servers.empty())
    settings.servers = servers;
  settings.token = Env("KSN_NATS_TOKEN");
  settings.creds_file = Env("KSN_NATS_CREDS");
  settings.ca_file = Env("KSN_NATS_CA");
  settings.cert_file = Env("KSN_NATS_CERT");
  settings.key_file = Env("KSN_NATS_KEY");
  settings.console_key = Env("KSN_CONSOLE_KEY");
  const std::string grace = Env("KSN_GRACE_MS");
  if (!grace.empty())
    settings.grace_ms = std::max(0, std::atoi(grace.c_str()));
  settings.drop_every = std::max(0, std::atoi(Env("KSN_TEST_DROP_EVERY").c_str()));
  return settings;
}

}  // namespace ksn
