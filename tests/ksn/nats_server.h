// A nats-server of a test's own: started on a free loopback port (or one
// given, to come back on it after a kill), ready once it accepts, stopped
// with the object.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <thread>

namespace ksn_test {

struct NatsServerOptions {
  int port = -1;         // -1: any free port
  std::string token;     // the server then requires it
  bool cluster = false;  // listen for routes on a free port
  std::string route_to;  // "nats://127.0.0.1:<cluster port>" of a server to join
};

class NatsServer {
 public:
  // Null when nats-server cannot be started or does not come up in 10 s.
  static std::unique_ptr<NatsServer> Start(const NatsServerOptions& options = {});
  ~NatsServer();

  // SIGKILL, as a crash would.
  void Kill();

  int port() const { return port_; }
  int cluster_port() const { return cluster_port_; }
  std::string url() const { return "nats://127.0.0.1:" + std::to_string(port_); }
  std::string route_url() const { return "nats://127.0.0.1:" + std::to_string(cluster_port_); }

 private:
  NatsServer() = default;

  pid_t pid_ = -1;
  int port_ = 0;
  int cluster_port_ = 0;
  std::thread drain_;  // keeps reading the log so the server never blocks on it
};

}  // namespace ksn_test
