// One side of the capacity run: streams of recorded video-packet sizes
// through the peer-network library, as members of one-way calls would send
// them, with no camera and no codec.
//   capacity_peer send|receive <library> <sizes file> <streams> <of> <at> <seconds> <out file>
// Works on the streams k of [0, streams) with k % of == at (a sender) or
// (k + 1) % of == at (a receiver), each the session "capacity-<k>", on the
// server KSN_NATS_URL names. A receiver opens its sessions, prints "ready",
// and once every stream has ended (or 30 s after `seconds`) prints
// "received <packets>" and writes each packet's one-way latency (µs, one a
// line) to <out file>. A sender waits until its sessions are connected,
// prints "connected", sends 15 packets a second on each stream for
// `seconds`, the sizes cycling through the recording, then an end marker on
// each, and prints "sent <packets>".
#include <poll.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "external/ksn_control.h"
#include "external/ksn_notify.h"
#include "plat/message.h"
#include "plat/module.h"

namespace {

constexpr int kFramesPerSecond = 15;
// Each packet: u32 size, u32 kind, i64 send time (CLOCK_MONOTONIC ns, one
// clock for every process on the machine), then filler.
constexpr std::size_t kHeader = 16;
enum Kind : std::uint32_t { kVideo = 1, kEnd = 2 };

std::int64_t NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// Dispatches what waits on this thread's queue, waiting at most `wait_ns`.
void Pump(std::int64_t wait_ns) {
  pollfd fd{plat::GetQueueFd(), POLLIN, 0};
  const timespec wait{wait_ns / 1000000000, wait_ns % 1000000000};
  ppoll(&fd, 1, &wait, nullptr);
  plat::MSG msg;
  while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE))
    plat::DispatchMessage(&msg);
}

// One session's notifications: its state and, receiving, its packets.
class Stream final : public KSN::ksnNotify {
 public:
  // One reference, the caller's.
  static Stream* Create(KSNControl* control, std::vector<std::int64_t>* latencies_us) {
    return new Stream(control, latencies_us);
  }
  void notifyReserved1(std::uint32_t, std::uint32_t) override {}
  void notifyReserved2(std::uint32_t, std::uint32_t) override {}
  void notifyExtendMessage(const std::string&, std::uint32_t) override {}
  void notifyConnect(std::uint32_t code, const char*, const std::string&) override {
    connected = code == 0;
  }
  void notifyReserved5(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                       std::uint32_t, std::uint32_t) override {}
  void notifyClose(std::uint32_t, const char*, const std::string&) override { ended = true; }
  void notifyRecv(const std::string& handle) override {
    const std::int64_t now = NowNs();
    char chunk[32000];
    std::int32_t n;
    while ((n = control_->Recv(handle, chunk, sizeof chunk)) > 0)
      bytes_.append(chunk, static_cast<std::size_t>(n));
    std::size_t at = 0;
    while (bytes_.size() - at >= kHeader) {
      std::uint32_t size, kind;
      std::int64_t sent;
      std::memcpy(&size, bytes_.data() + at, 4);
      std::memcpy(&kind, bytes_.data() + at + 4, 4);
      std::memcpy(&sent, bytes_.data() + at + 8, 8);
      if (size < kHeader || bytes_.size() - at < size)
        break;
      if (kind == kEnd)
        ended = true;
      else
        latencies_us_->push_back((now - sent) / 1000);
      at += size;
    }
    bytes_.erase(0, at);
  }
  void notifyReserved8(std::uint32_t) override {}

  bool connected = false;
  bool ended = false;

 private:
  Stream(KSNControl* control, std::vector<std::int64_t>* latencies_us)
      : control_(control), latencies_us_(latencies_us) {}
  KSNControl* control_;
  std::vector<std::int64_t>* latencies_us_;
  std::string bytes_;
};

std::vector<std::uint32_t> ReadSizes(const char* path) {
  std::vector<std::uint32_t> sizes;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] != '#')
      sizes.push_back(static_cast<std::uint32_t>(std::max<long>(std::stol(line), kHeader)));
  }
  return sizes;
}

void SendPacket(KSNControl* control, const std::string& handle, std::string& packet, Kind kind,
                std::uint32_t size) {
  packet.resize(size);
  const std::int64_t now = NowNs();
  std::memcpy(packet.data(), &size, 4);
  std::memcpy(packet.data() + 4, &kind, 4);
  std::memcpy(packet.data() + 8, &now, 8);
  control->Send(handle, packet.data(), size);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 9) {
    std::fprintf(stderr,
                 "usage: capacity_peer send|receive <library> <sizes> <streams> <of> <at> "
                 "<seconds> <out>\n");
    return 2;
  }
  const bool sender = std::string(argv[1]) == "send";
  const std::vector<std::uint32_t> sizes = ReadSizes(argv[3]);
  const int streams = std::atoi(argv[4]), of = std::atoi(argv[5]), at = std::atoi(argv[6]);
  const int seconds = std::atoi(argv[7]);
  const plat::HMODULE library = plat::LoadLibrary(argv[2]);
  const auto create = reinterpret_cast<KSNCreateFunc>(
      library ? plat::GetProcAddress(library, kKSNCreateExport) : nullptr);
  KSNControl* control = create ? create() : nullptr;
  if (sizes.empty() || of <= 0 || control == nullptr) {
    std::fprintf(stderr, "capacity_peer: no sizes or no peer-network library\n");
    return 1;
  }
  for (const std::int64_t until = NowNs() + 10000000000LL; !control->IsReady() && NowNs() < until;)
    Pump(10000000);

  std::vector<std::int64_t> latencies_us;
  std::vector<std::pair<std::string, Stream*>> mine;
  for (int k = 0; k < streams; ++k) {
    if ((sender ? k : k + 1) % of != at)
      continue;
    const std::string handle = "capacity-" + std::to_string(k);
    Stream* stream = Stream::Create(control, &latencies_us);
    control->OpenSession(handle, 2, stream, 0);
    mine.emplace_back(handle, stream);
  }
  const auto all = [&](bool Stream::*flag) {
    return std::all_of(mine.begin(), mine.end(), [&](const auto& s) { return s.second->*flag; });
  };

  if (sender) {
    for (const std::int64_t until = NowNs() + 60000000000LL; !all(&Stream::connected);) {
      if (NowNs() > until) {
        std::fprintf(stderr, "capacity_peer: sessions did not connect\n");
        return 1;
      }
      Pump(10000000);
    }
    std::printf("connected\n");
    std::fflush(stdout);
    // Sends spread evenly over each frame interval, stream after stream.
    const std::int64_t period =
        1000000000LL / kFramesPerSecond / std::max<std::size_t>(1, mine.size());
    const std::int64_t start = NowNs();
    const std::int64_t count = static_cast<std::int64_t>(seconds) * kFramesPerSecond * mine.size();
    std::string packet;
    for (std::int64_t i = 0; i < count; ++i) {
      const std::int64_t due = start + i * period;
      for (std::int64_t now = NowNs(); now < due; now = NowNs())
        Pump(due - now);
      const auto& [handle, stream] = mine[static_cast<std::size_t>(i) % mine.size()];
      SendPacket(control, handle, packet, kVideo,
                 sizes[static_cast<std::size_t>(i / mine.size()) % sizes.size()]);
    }
    for (const auto& [handle, stream] : mine)
      SendPacket(control, handle, packet, kEnd, kHeader);
    for (const std::int64_t until = NowNs() + 2000000000LL; NowNs() < until;)
      Pump(10000000);  // lets the last packets leave
    std::printf("sent %lld\n", static_cast<long long>(count));
  } else {
    std::printf("ready\n");
    std::fflush(stdout);
    for (const std::int64_t until = NowNs() + (seconds + 90) * 1000000000LL;
         !all(&Stream::ended) && NowNs() < until;)
      Pump(10000000);
    std::printf("received %zu\n", latencies_us.size());
    std::ofstream out(argv[8]);
    for (const std::int64_t us : latencies_us)
      out << us << '\n';
  }
  std::fflush(stdout);
  for (const auto& [handle, stream] : mine) {
    control->CloseSession(handle);
    stream->Release();
  }
  control->Release();
  return 0;
}
