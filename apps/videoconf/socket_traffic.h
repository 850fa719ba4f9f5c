// What this process has sent to and received from one server port, read
// from the kernel's counters of its TCP connections (the peer network's
// NATS connection), so that a host can show its bit rate without any help
// from the module.
#pragma once

#include <cstdint>
#include <string>

namespace videoconf_app {

struct SocketTraffic {
  std::uint64_t bytes_out = 0;
  std::uint64_t bytes_in = 0;
  std::uint64_t packets_out = 0;  // data segments: one per message written at once
};

// Sums every TCP connection of this process to `server_port`.
SocketTraffic MeasureTraffic(int server_port);

// The port of the first server in a NATS URL list ("nats://host:port,..."); 4222 when none.
int FirstServerPort(const std::string& urls);

}  // namespace videoconf_app
