#include "private_nats_server.h"

#include <poll.h>

#include <chrono>
#include <cstdlib>

#include "queue_pump.h"

namespace videoconf_app {

PrivateNatsServer StartPrivateNatsServer(std::string* error) {
  PrivateNatsServer server;
  server.process = ChildProcess::Start({"nats-server", "-a", "127.0.0.1", "-p", "-1"}, true, error);
  if (!server.process) {
    *error += "; install nats-server or set KSN_NATS_URL to a running server";
    return server;
  }
  const std::string marker = "Listening for client connections on 127.0.0.1:";
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < until && server.process->output_fd() >= 0) {
    pollfd fd{server.process->output_fd(), POLLIN, 0};
    poll(&fd, 1, 100);
    for (const std::string& line : server.process->ReadLines()) {
      const std::size_t at = line.find(marker);
      if (at != std::string::npos) {
        server.url =
            "nats://127.0.0.1:" + std::to_string(std::atoi(line.c_str() + at + marker.size()));
        return server;
      }
    }
  }
  *error = "nats-server did not start listening within 10 s; set KSN_NATS_URL to a running server";
  server.process.reset();
  return server;
}

}  // namespace videoconf_app
