#include "nats_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace ksn_test {
namespace {

// The port a "Listening for <what> connections on 127.0.0.1:PORT" line names, 0 if none.
int ListeningPort(ChildProcess& process, const std::string& what) {
  const std::string marker = "Listening for " + what + " connections on 127.0.0.1:";
  const std::string line = process.WaitLine(marker, 10000);
  const std::size_t at = line.find(marker);
  return at == std::string::npos ? 0 : std::atoi(line.c_str() + at + marker.size());
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

}  // namespace

std::unique_ptr<NatsServer> NatsServer::Start(const NatsServerOptions& options) {
  std::vector<std::string> args = {
      "nats-server", "-a", "127.0.0.1", "-p", std::to_string(options.port), "-l", "/dev/stdout"};
  if (!options.config_file.empty())
    args.insert(args.begin() + 1, {"-c", options.config_file});
  if (!options.token.empty())
    args.insert(args.end(), {"--auth", options.token});
  const bool routes = options.cluster || !options.route_to.empty();
  if (routes)
    args.insert(args.end(), {"--cluster_name", "ksn", "--cluster", "nats://127.0.0.1:-1"});
  if (!options.route_to.empty())
    args.insert(args.end(), {"--routes", options.route_to});
  auto server = std::make_unique<NatsServer>();
  server->process_ = std::make_unique<ChildProcess>(args);
  server->port_ = ListeningPort(*server->process_, "client");
  server->cluster_port_ = routes ? ListeningPort(*server->process_, "route") : 0;
  for (int i = 0; i < 500 && server->port_ && !Accepts(server->port_); ++i)
    usleep(10000);
  if (!server->port_ || (routes && !server->cluster_port_) || !Accepts(server->port_))
    return nullptr;
  return server;
}

}  // namespace ksn_test
