#include "nats_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <vector>

namespace ksn_test {
namespace {

// "... Listening for <what> connections on 127.0.0.1:PORT" -> PORT
int PortAfter(const std::string& log, const std::string& what) {
  const std::string marker = "Listening for " + what + " connections on 127.0.0.1:";
  const std::size_t at = log.find(marker);
  const std::size_t end = at == std::string::npos ? at : log.find('\n', at);
  return end == std::string::npos ? 0 : std::atoi(log.c_str() + at + marker.size());
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
  std::vector<std::string> args = {"nats-server", "-a", "127.0.0.1", "-p",
                                   std::to_string(options.port)};
  if (!options.token.empty())
    args.insert(args.end(), {"--auth", options.token});
  if (options.cluster || !options.route_to.empty())
    args.insert(args.end(), {"--cluster_name", "ksn", "--cluster", "nats://127.0.0.1:-1"});
  if (!options.route_to.empty())
    args.insert(args.end(), {"--routes", options.route_to});
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0)
    return nullptr;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fds[1], STDERR_FILENO);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    // Debian puts it in /usr/sbin, which a plain user's PATH may lack.
    execv("/usr/sbin/nats-server", argv.data());
    _exit(127);
  }
  close(pipe_fds[1]);
  std::unique_ptr<NatsServer> server(new NatsServer);
  server->pid_ = pid;
  const bool want_routes = options.cluster || !options.route_to.empty();
  std::string log;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline &&
         (!server->port_ || (want_routes && !server->cluster_port_))) {
    pollfd pfd{pipe_fds[0], POLLIN, 0};
    if (poll(&pfd, 1, 100) <= 0)
      continue;
    char chunk[4096];
    const ssize_t n = read(pipe_fds[0], chunk, sizeof chunk);
    if (n <= 0)
      break;
    log.append(chunk, static_cast<std::size_t>(n));
    server->port_ = PortAfter(log, "client");
    server->cluster_port_ = PortAfter(log, "route");
  }
  const int fd = pipe_fds[0];
  server->drain_ = std::thread([fd] {
    char chunk[4096];
    while (read(fd, chunk, sizeof chunk) > 0) {
    }
    close(fd);
  });
  while (server->port_ && !Accepts(server->port_) && std::chrono::steady_clock::now() < deadline)
    usleep(10000);
  if (!server->port_ || (want_routes && !server->cluster_port_) || !Accepts(server->port_))
    return nullptr;
  return server;
}

void NatsServer::Kill() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
}

NatsServer::~NatsServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  if (drain_.joinable())
    drain_.join();
}

}  // namespace ksn_test
