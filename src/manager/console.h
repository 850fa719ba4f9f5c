// The manager's text console: what the peer-network library's diagnostic
// registry may read and change of it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "session/session_table.h"

namespace kalo::video {

// A key split at its first ".": the object it addresses (empty for the
// manager itself), unescaped, and the command after it.
struct ConsoleKey {
  std::string first;
  std::string remainder;
};
ConsoleKey SplitConsoleKey(std::string_view key);

// What the console reports, read from the manager at the moment of asking.
struct ConsoleState {
  const std::string& camera_driver;
  bool video_opened;
  std::int32_t video_type;
  std::uint32_t out_bw_valve;
  const SessionTable& sessions;
};

// The reply to `key`; empty for a key addressed elsewhere or unknown.
std::string ConsoleGet(std::string_view key, const ConsoleState& state);

// Only "log_level" with a decimal value is taken: it becomes the debug log's
// level. Anything else changes nothing.
void ConsoleSet(std::string_view key, const std::string& value);

}  // namespace kalo::video
