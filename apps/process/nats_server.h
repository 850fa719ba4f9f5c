// A nats-server of our own: started on a free loopback port (or one given,
// to come back on it after a kill), ready once it accepts, and gone with the
// object or with the thread that started it.
#pragma once

#include <memory>
#include <string>

#include "child_process.h"

namespace vc_process {

struct NatsServerOptions {
  int port = -1;            // -1: any free port
  std::string token;        // the server then requires it
  bool cluster = false;     // listen for routes on a free port
  std::string route_to;     // "nats://127.0.0.1:<cluster port>" of a server to join
  std::string config_file;  // read first; the options above override it
};

class NatsServer {
 public:
  // Null when nats-server cannot be started or does not accept within 10 s;
  // `error`, when given, says which.
  static std::unique_ptr<NatsServer> Start(const NatsServerOptions& options = {},
                                           std::string* error = nullptr);

  // SIGKILL, as a crash would.
  void Kill() { process_->Kill(); }

  int port() const { return port_; }
  std::string url() const { return "nats://127.0.0.1:" + std::to_string(port_); }
  std::string route_url() const { return "nats://127.0.0.1:" + std::to_string(cluster_port_); }
  ChildProcess& process() { return *process_; }

 private:
  std::unique_ptr<ChildProcess> process_;
  int port_ = 0;
  int cluster_port_ = 0;
};

}  // namespace vc_process
