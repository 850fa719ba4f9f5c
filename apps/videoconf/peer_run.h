// One member of a conference: the module loaded, the camera open, a local
// preview and a remote window, a live progress line, and at the end PNG
// snapshots, the debug log and a summary.
#pragma once

#include <string>

namespace videoconf_app {

struct PeerOptions {
  std::string name = "peer";
  std::string cid;     // "new": a fresh one from CreateCid, printed as "cid <id>"
  std::string camera;  // empty: the virtual camera
  bool super = true;
  int seconds = 10;
  std::string out_dir = "videoconf-out";
  bool x11 = false;
  // Opens no camera: only receives (the benchmark's receiver).
  bool receive_only = false;
};

// Exit codes of a peer, which the call reads.
inline constexpr int kPeerVideoFlowed = 0;
inline constexpr int kPeerSetupFailed = 2;
inline constexpr int kPeerClosedByOther = 3;
inline constexpr int kPeerNoVideo = 4;

int RunPeer(const PeerOptions& options);

// Creates `dir` if needed and checks a file can be written there; false with
// a one-line `error` otherwise.
bool PrepareOutputFolder(const std::string& dir, std::string* error);

}  // namespace videoconf_app
