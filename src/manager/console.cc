#include "manager/console.h"

#include <cstdio>
#include <sstream>

#include "common/debug_log.h"

namespace kalo::video {

namespace {

constexpr char kHelp[] =
    "log_level\r\nvideo_cap_driver\r\nvideo_opened\r\nvideo_type\r\nout_bw_valve\r\n"
    "session_list\r\n";

// One left-to-right pass; replaced text is not looked at again.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  std::size_t at = 0;
  for (std::size_t hit = text.find(from); hit != std::string_view::npos;
       hit = text.find(from, at)) {
    out.append(text.substr(at, hit - at)).append(to);
    at = hit + from.size();
  }
  out.append(text.substr(at));
  return out;
}

}  // namespace

ConsoleKey SplitConsoleKey(std::string_view key) {
  ConsoleKey split;
  const std::size_t dot = key.find('.');
  if (dot == std::string_view::npos) {
    split.remainder = key;
    return split;
  }
  std::string_view first = key.substr(0, dot);
  first = first.substr(0, first.find(':'));
  split.first = ReplaceAll(ReplaceAll(ReplaceAll(first, "%%", "%"), "%46", "."), "%58", ":");
  split.remainder = key.substr(dot + 1);
  return split;
}

std::string ConsoleGet(std::string_view key, const ConsoleState& state) {
  const ConsoleKey split = SplitConsoleKey(key);
  if (!split.first.empty())
    return {};
  if (split.remainder == "help")
    return kHelp;
  std::ostringstream reply;
  if (key == "log_level") {
    reply << COMM::g_debug_log.level();
  } else if (key == "video_cap_driver") {
    reply << state.camera_driver;
  } else if (key == "video_opened") {
    reply << (state.video_opened ? "true" : "false");
  } else if (key == "video_type") {
    reply << (state.video_type == 0 ? "NORMAL" : state.video_type == 1 ? "SMALL" : "INVALID");
  } else if (key == "out_bw_valve") {
    reply << state.out_bw_valve;
  } else if (key == "session_list") {
    reply << "session_num: " << state.sessions.size() << "\r\n\r\n";
    if (!state.sessions.empty()) {
      reply << "<ksnhandle>:\r\n";
      for (const auto& [cid, session] : state.sessions)
        reply << cid << "\r\n";
    }
  }
  return std::move(reply).str();
}

void ConsoleSet(std::string_view key, const std::string& value) {
  if (!SplitConsoleKey(key).first.empty() || key != "log_level" || value.empty())
    return;
  int level = 0;
  if (std::sscanf(value.c_str(), "%d", &level) == 1)
    COMM::g_debug_log.set_level(static_cast<std::uint32_t>(level));
}

}  // namespace kalo::video
