#include "socket_traffic.h"

#include <arpa/inet.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

namespace videoconf_app {

SocketTraffic MeasureTraffic(int server_port) {
  SocketTraffic total;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
    const int fd = std::atoi(entry.path().filename().c_str());
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode)) {
      continue;
    }
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0) {
      continue;
    }
    int port = -1;
    if (peer.ss_family == AF_INET) {
      port = ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port);
    } else if (peer.ss_family == AF_INET6) {
      port = ntohs(reinterpret_cast<sockaddr_in6*>(&peer)->sin6_port);
    }
    struct tcp_info tcp {};
    socklen_t tcp_length = sizeof tcp;
    if (port != server_port || getsockopt(fd, IPPROTO_TCP, TCP_INFO, &tcp, &tcp_length) != 0) {
      continue;
    }
    total.bytes_out += tcp.tcpi_bytes_acked;
    total.bytes_in += tcp.tcpi_bytes_received;
    total.packets_out += tcp.tcpi_data_segs_out;
  }
  return total;
}

int FirstServerPort(const std::string& urls) {
  const std::string first = urls.substr(0, urls.find(','));
  const std::size_t scheme = first.find("://");
  std::string rest = scheme == std::string::npos ? first : first.substr(scheme + 3);
  rest = rest.substr(rest.find('@') == std::string::npos ? 0 : rest.find('@') + 1);
  const std::size_t colon = rest.rfind(':');
  const int port = colon == std::string::npos ? 0 : std::atoi(rest.c_str() + colon + 1);
  return port > 0 ? port : 4222;
}

}  // namespace videoconf_app
