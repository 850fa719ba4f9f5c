// videoconf: the host program. It loads libvideoconf.so as a messaging
// client would and drives it through IVideoConfManager only.
#include <cstdio>
#include <string>
#include <vector>

#include "call_run.h"
#include "command_line.h"
#include "commands.h"
#include "peer_run.h"
#include "queue_pump.h"

namespace {

using videoconf_app::CommandLine;
using videoconf_app::CommandSyntax;

constexpr char kUsage[] =
    "usage: videoconf <command> [options]\n"
    "  call    [--seconds N] [--mode super|normal] [--camera DEV] [--out DIR] [--x11]\n"
    "          [--one-way]            (B only receives)\n"
    "          two peers in one new conference over a private NATS server (or KSN_NATS_URL)\n"
    "  peer    --cid ID|new [--name NAME] [--seconds N] [--mode super|normal] [--camera DEV]\n"
    "          [--out DIR] [--x11] [--receive-only]  one member, for machines sharing a NATS\n"
    "          server\n"
    "  devices                        the cameras\n"
    "  record  --seconds N FILE.avi [--camera DEV]\n"
    "  ctl     list | get KEY | set KEY VALUE [--member ID]\n"
    "          the diagnostic console of every peer on the NATS server that holds the\n"
    "          same console key (KSN_CONSOLE_KEY: the key, or a file holding it)\n";

int BadUsage(const std::string& message) {
  std::fprintf(stderr, "videoconf: %s\n", message.c_str());
  return 2;
}

// Fills the options call and peer share; false with `error` set.
bool ReadPeerOptions(const CommandLine& line, videoconf_app::PeerOptions* options,
                     std::string* error) {
  long seconds = 0;
  if (!videoconf_app::ParseCount(line.Get("seconds", "10"), 1, 86400, &seconds)) {
    *error = "--seconds takes a whole number of seconds from 1 to 86400";
    return false;
  }
  const std::string mode = line.Get("mode", "super");
  if (mode != "super" && mode != "normal") {
    *error =
        "--mode is 'super' (352x288, 15 fps) or 'normal' (176x144, 20 fps), not '" + mode + "'";
    return false;
  }
  options->seconds = static_cast<int>(seconds);
  options->super = mode == "super";
  options->camera = line.Get("camera", "");
  options->out_dir = line.Get("out", "videoconf-out");
  options->x11 = line.Has("x11");
  options->receive_only = line.Has("receive-only");
  options->name = line.Get("name", "peer");
  options->cid = line.Get("cid", "");
  if (!line.words.empty()) {
    *error = "unexpected '" + line.words[0] + "'; run 'videoconf help'";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  videoconf_app::InstallStopSignals();
  const std::vector<std::string> args(argv + 1, argv + argc);
  CommandLine line;
  line.command = args.empty() ? "" : args[0];
  if (line.command.empty() || line.command == "help" || line.command == "--help") {
    std::printf("%s", kUsage);
    return line.command.empty() ? 2 : 0;
  }
  const CommandSyntax peer_syntax{{"seconds", "mode", "camera", "out", "name", "cid"},
                                  {"x11", "receive-only", "one-way"}};
  CommandSyntax syntax;
  if (line.command == "call" || line.command == "peer") {
    syntax = peer_syntax;
  } else if (line.command == "record") {
    syntax = {{"seconds", "camera"}, {}};
  } else if (line.command == "ctl") {
    syntax = {{"member"}, {}};
  } else if (line.command != "devices") {
    return BadUsage("unknown command '" + line.command + "'; run 'videoconf help'");
  }
  std::string error;
  if (!videoconf_app::ParseCommandLine({args.begin() + 1, args.end()}, syntax, &line, &error)) {
    return BadUsage(error);
  }

  if (line.command == "devices") {
    return line.words.empty() ? videoconf_app::RunDevices()
                              : BadUsage("'devices' takes no arguments");
  }
  if (line.command == "ctl") {
    return videoconf_app::RunCtl(line);
  }
  if (line.command == "record") {
    long seconds = 0;
    if (line.words.size() != 1 ||
        !videoconf_app::ParseCount(line.Get("seconds", ""), 1, 3600, &seconds)) {
      return BadUsage("use 'videoconf record --seconds N FILE.avi' with N from 1 to 3600");
    }
    return videoconf_app::RunRecord(line.words[0], static_cast<int>(seconds),
                                    line.Get("camera", ""));
  }
  videoconf_app::PeerOptions options;
  if (!ReadPeerOptions(line, &options, &error)) {
    return BadUsage(error);
  }
  if (line.command == "call") {
    if (line.Has("cid") || line.Has("name") || line.Has("receive-only")) {
      return BadUsage("'call' names its peers and makes the conference id itself");
    }
    return videoconf_app::RunCall(options, line.Has("one-way"));
  }
  if (line.Has("one-way")) {
    return BadUsage("--one-way is an option of 'call'; a peer takes --receive-only");
  }
  if (options.cid.empty()) {
    return BadUsage("'peer' needs --cid ID (the other member's) or --cid new");
  }
  return videoconf_app::RunPeer(options);
}
