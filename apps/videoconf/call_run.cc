#include "call_run.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "capture/capture_time_stamp.h"
#include "plat/kernel.h"
#include "process/child_process.h"
#include "process/nats_server.h"
#include "queue_pump.h"

namespace videoconf_app {
namespace {

using Clock = std::chrono::steady_clock;
using vc_process::ChildProcess;
using vc_process::DescribeExit;
using vc_process::NatsServer;

int Fail(const std::string& message) {
  std::fprintf(stderr, "videoconf call: %s\n", message.c_str());
  return kPeerSetupFailed;
}

std::vector<std::string> PeerArgs(const PeerOptions& options, const std::string& name,
                                  const std::string& cid, bool receive_only) {
  std::vector<std::string> args = {plat::GetExecutablePath(),
                                   "peer",
                                   "--name",
                                   name,
                                   "--cid",
                                   cid,
                                   "--seconds",
                                   std::to_string(options.seconds),
                                   "--mode",
                                   options.super ? "super" : "normal",
                                   "--out",
                                   options.out_dir};
  if (!options.camera.empty()) {
    args.insert(args.end(), {"--camera", options.camera});
  }
  if (options.x11) {
    args.emplace_back("--x11");
  }
  if (receive_only) {
    args.emplace_back("--receive-only");
  }
  return args;
}

struct Peer {
  std::string name;
  std::unique_ptr<ChildProcess> process;
};

void Relay(Peer& peer) {
  for (const std::string& line : peer.process->ReadLines()) {
    std::printf("%s\n", line.c_str());
  }
  std::fflush(stdout);
}

}  // namespace

int RunCall(const PeerOptions& options, bool one_way) {
  std::string error;
  if (!PrepareOutputFolder(options.out_dir, &error)) {
    return Fail(error);
  }
  // The virtual cameras of both peers stamp their capture times.
  setenv(capture_stamp::kEnvironmentVariable, "1", 1);
  std::unique_ptr<NatsServer> server;
  const char* given = std::getenv("KSN_NATS_URL");
  if (given == nullptr || *given == '\0') {
    server = NatsServer::Start({}, &error);
    if (!server) {
      return Fail(error + "; install nats-server or set KSN_NATS_URL to a running server");
    }
    setenv("KSN_NATS_URL", server->url().c_str(), 1);
    std::printf("call: private NATS server at %s\n", server->url().c_str());
  }

  std::array<Peer, 2> peers{Peer{"A", nullptr}, Peer{"B", nullptr}};
  peers[0].process = ChildProcess::Start(PeerArgs(options, "A", "new", false), {}, &error);
  if (!peers[0].process) {
    return Fail(error);
  }
  // A makes the conference id; B joins it.
  std::string cid;
  for (const auto until = Clock::now() + std::chrono::seconds(20);
       cid.empty() && Clock::now() < until && !peers[0].process->Poll() && !StopRequested();) {
    pollfd fd{peers[0].process->output_fd(), POLLIN, 0};
    poll(&fd, 1, 100);
    for (const std::string& line : peers[0].process->ReadLines()) {
      if (line.rfind("cid ", 0) == 0) {
        cid = line.substr(4);
      } else {
        std::printf("%s\n", line.c_str());
      }
    }
  }
  if (cid.empty()) {
    peers[0].process->Stop(2000);
    return Fail("peer A did not open a conference (see its message above)");
  }
  std::printf("call: conference %s, %d s, %s mode\n", cid.c_str(), options.seconds,
              options.super ? "super (352x288, 15 fps)" : "normal (176x144, 20 fps)");
  std::fflush(stdout);
  peers[1].process = ChildProcess::Start(PeerArgs(options, "B", cid, one_way), {}, &error);
  if (!peers[1].process) {
    return Fail(error);
  }

  // Setup takes a few seconds; past this the call is stuck and is ended.
  const auto deadline = Clock::now() + std::chrono::seconds(options.seconds + 30);
  std::array<std::optional<int>, 2> exits;
  std::optional<Clock::time_point> first_exit;
  bool server_reported = false;
  std::optional<Clock::time_point> stopping;
  while (!exits[0] || !exits[1]) {
    std::vector<pollfd> fds;
    for (Peer& peer : peers) {
      fds.push_back({peer.process->output_fd(), POLLIN, 0});
    }
    if (server) {
      fds.push_back({server->process().output_fd(), POLLIN, 0});
    }
    poll(fds.data(), fds.size(), 100);
    if (server) {
      server->process().ReadLines();
      if (!server_reported && server->process().Poll()) {
        server_reported = true;
        std::printf("call: the NATS server %s during the call\n",
                    DescribeExit(*server->process().Poll()).c_str());
      }
    }
    for (std::size_t i = 0; i < peers.size(); ++i) {
      Relay(peers[i]);
      if (!exits[i] && peers[i].process->Poll()) {
        exits[i] = peers[i].process->Poll();
        Relay(peers[i]);
        if (!WIFEXITED(*exits[i])) {
          std::printf("call: peer %s %s\n", peers[i].name.c_str(), DescribeExit(*exits[i]).c_str());
        }
        first_exit = first_exit.value_or(Clock::now());
      }
    }
    // A peer that stays after its partner left (or past the deadline, or
    // when we are asked to stop) is ended: nothing is left running.
    const bool partner_gone = first_exit && Clock::now() - *first_exit > std::chrono::seconds(10);
    if (!stopping && (StopRequested() || Clock::now() > deadline || partner_gone)) {
      stopping = Clock::now();
      for (Peer& peer : peers) {
        peer.process->Signal(SIGTERM);
      }
    }
    // A peer that does not end when asked is killed.
    if (stopping && Clock::now() - *stopping > std::chrono::seconds(10)) {
      for (Peer& peer : peers) {
        peer.process->Signal(SIGKILL);
      }
    }
  }
  server.reset();

  bool both = true;
  for (std::size_t i = 0; i < peers.size(); ++i) {
    // One way, A sends only and gets nothing back.
    const int wanted = one_way && i == 0 ? kPeerNoVideo : kPeerVideoFlowed;
    if (!WIFEXITED(*exits[i]) || WEXITSTATUS(*exits[i]) != wanted) {
      both = false;
      std::printf("call: peer %s received no video or did not finish (%s)\n", peers[i].name.c_str(),
                  DescribeExit(*exits[i]).c_str());
    }
  }
  std::printf("call: %s; snapshots and debug logs in %s\n",
              both ? (one_way ? "video flowed from A to B" : "video flowed both ways")
                   : "video did NOT flow as it should",
              options.out_dir.c_str());
  return both ? 0 : 1;
}

}  // namespace videoconf_app
