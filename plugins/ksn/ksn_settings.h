// How a control or a registry client reaches the NATS server, and the limits
// of a session.
//
// Read from the environment by FromEnvironment:
//   KSN_NATS_URL    server address; several separated by commas (a cluster).
//                   Default nats://127.0.0.1:4222. A token or user:password
//                   may stand in the URL: nats://token@host:port.
//   KSN_NATS_TOKEN  the server's auth token, when not in the URL.
//   KSN_NATS_CREDS  a credentials file (user JWT and NKey seed).
//   KSN_NATS_CA     a CA certificate file: the connection then requires TLS.
//   KSN_NATS_CERT, KSN_NATS_KEY  a client certificate chain and its key, for
//                   servers that verify clients.
//   KSN_CONSOLE_KEY the console key (console_auth.h): the key itself, or the
//                   path of a file holding it. Without one, the peer's console
//                   is not reachable over NATS.
//   KSN_GRACE_MS    how long a session waits for a lost connection (and its
//                   partner) to come back before it closes; default 10000.
//   KSN_TEST_DROP_EVERY  a test aid: every n-th message a session sends is
//                   sealed but not published, as if the bus lost it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ksn {

struct KsnSettings {
  std::vector<std::string> servers{"nats://127.0.0.1:4222"};
  std::string token;
  std::string creds_file;
  std::string ca_file;
  std::string cert_file;
  std::string key_file;
  std::string console_key;  // as KSN_CONSOLE_KEY holds it

  // Bytes of one session waiting for its owner thread; past it, whole
  // messages are dropped.
  std::size_t max_queued_bytes = 16u << 20;
  // A paired member beats this often; silence longer than silence_ms closes.
  int heartbeat_ms = 1000;
  int silence_ms = 3500;
  int grace_ms = 10000;
  // A test aid (see above); 0 drops nothing.
  int drop_every = 0;

  static KsnSettings FromEnvironment();
};

// Splits "a,b, c" into trimmed, non-empty parts.
std::vector<std::string> SplitServerList(const std::string& text);

}  // namespace ksn
