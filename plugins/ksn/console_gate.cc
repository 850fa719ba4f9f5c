#include "console_gate.h"

namespace ksn {

bool ConsoleGate::Admit(const ConsoleTag& tag, std::int64_t stamp_ms, std::int64_t now_ms) {
  if (stamp_ms < now_ms - kWindowMs || stamp_ms > now_ms + kWindowMs)
    return false;
  // A tag is remembered for as long as its stamp could still be admitted.
  for (auto it = seen_.begin(); it != seen_.end();)
    it = it->second < now_ms ? seen_.erase(it) : std::next(it);
  if (seen_.size() >= kMaxRemembered)
    return false;
  return seen_.emplace(tag, stamp_ms + kWindowMs).second;
}

}  // namespace ksn
