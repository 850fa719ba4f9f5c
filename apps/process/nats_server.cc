#include "nats_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <vector>

namespace vc_process {
namespace {

constexpr int kStartMs = 10000;

// The port a "Listening for <what> connections on 127.0.0.1:PORT" line names, 0 if none.
int ListeningPort(ChildProcess& process, const std::string& what) {
  const std::string marker = "Listening for " + what + " connections on 127.0.0.1:";
  const std::string line = process.WaitLine(marker, kStartMs);
  const std::size_t at = line.find(marker);
  return at == std::string::npos ? 0 : std::atoi(line.c_str() + at + marker.size());
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

std::unique_ptr<NatsServer> Failed(std::string* error, const std::string& why) {
  if (error != nullptr)
    *error = why;
  return nullptr;
}

}  // namespace

std::unique_ptr<NatsServer> NatsServer::Start(const NatsServerOptions& options,
                                              std::string* error) {
  std::vector<std::string> args = {"nats-server", "-a", "127.0.0.1", "-p",
                                   std::to_string(options.port)};
  if (!options.config_file.empty())
    args.insert(args.begin() + 1, {"-c", options.config_file});
  if (!options.token.empty())
    args.insert(args.end(), {"--auth", options.token});
  const bool routes = options.cluster || !options.route_to.empty();
  if (routes)
    args.insert(args.end(), {"--cluster_name", "ksn", "--cluster", "nats://127.0.0.1:-1"});
  if (!options.route_to.empty())
    args.insert(args.end(), {"--routes", options.route_to});
  std::string why;
  auto server = std::unique_ptr<NatsServer>(new NatsServer());
  // nats-server logs to stderr.
  server->process_ = ChildProcess::Start(args, {.merge_stderr = true, .env = {}}, &why);
  if (!server->process_)
    return Failed(error, why);
  server->port_ = ListeningPort(*server->process_, "client");
  server->cluster_port_ = routes ? ListeningPort(*server->process_, "route") : 0;
  if (!server->port_ || (routes && !server->cluster_port_))
    return Failed(error, "nats-server did not start listening within 10 s");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartMs);
  while (!Accepts(server->port_)) {
    if (std::chrono::steady_clock::now() >= deadline)
      return Failed(error, "nats-server did not accept connections within 10 s");
    poll(nullptr, 0, 10);
  }
  return server;
}

}  // namespace vc_process
