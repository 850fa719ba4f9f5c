// Which signed console requests a peer answers: those stamped within the
// window around its own clock, each once. Not locked: its owner is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

#include "console_auth.h"

namespace ksn {

class ConsoleGate {
 public:
  static constexpr std::int64_t kWindowMs = 30000;
  // Past this many requests in one window, new ones are refused: a sign of a
  // flood, and the memory of the gate stays bounded.
  static constexpr std::size_t kMaxRemembered = 4096;

  // True once per tag, while `stamp_ms` is within kWindowMs of `now_ms`.
  bool Admit(const ConsoleTag& tag, std::int64_t stamp_ms, std::int64_t now_ms);

 private:
  std::map<ConsoleTag, std::int64_t> seen_;  // tag -> the time it leaves the window
};

}  // namespace ksn
