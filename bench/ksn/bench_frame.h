// What the benchmark's two processes send each other: u32 size, u32 kind,
// u64 send time (steady clock, ns, shared by processes on one machine), then
// filler up to size.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

namespace ksn_bench {

enum Kind : std::uint32_t { kProbe = 0, kBulk = 1, kEnd = 2 };
inline constexpr std::size_t kHeader = 16;

inline std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

inline void Stamp(std::string* packet, Kind kind) {
  const auto size = static_cast<std::uint32_t>(packet->size());
  const std::int64_t now = NowNs();
  std::memcpy(packet->data(), &size, 4);
  std::memcpy(packet->data() + 4, &kind, 4);
  std::memcpy(packet->data() + 8, &now, 8);
}

// The receiver's answer to a probe (its one-way latency) or to the end
// marker (how many bulk packets arrived), as 8 bytes.
inline std::int64_t Answer(const char* packet, std::int64_t bulk_count) {
  std::uint32_t kind;
  std::int64_t sent;
  std::memcpy(&kind, packet + 4, 4);
  std::memcpy(&sent, packet + 8, 8);
  return kind == kProbe ? NowNs() - sent : bulk_count;
}

}  // namespace ksn_bench
