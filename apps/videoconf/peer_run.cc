#include "peer_run.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "camera_choice.h"
#include "connection_error.h"
#include "frame_watch.h"
#include "host_window.h"
#include "loaded_module.h"
#include "plat/gdi.h"
#include "plat/kernel.h"
#include "png_file.h"
#include "queue_pump.h"
#include "socket_traffic.h"
#include "window_presenter.h"

namespace videoconf_app {
namespace {

using Clock = std::chrono::steady_clock;

class ConferenceObserver final : public kalo::video::IVideoConfObserver {
 public:
  void OnSessionReady(const std::string&) override { ready = true; }
  void OnSessionClose(std::int32_t why, const std::string&) override {
    closed = true;
    reason = why;
  }

  bool ready = false;
  bool closed = false;
  std::int32_t reason = 0;
};

int Fail(const std::string& name, const std::string& message) {
  std::fprintf(stderr, "videoconf %s: %s\n", name.c_str(), message.c_str());
  return kPeerSetupFailed;
}

std::string NatsUrl() {
  const char* url = std::getenv("KSN_NATS_URL");
  return url != nullptr && *url ? url : "nats://127.0.0.1:4222";
}

bool Snapshot(plat::HWND window, const std::string& path, std::string* error) {
  std::vector<std::uint32_t> pixels;
  int width = 0;
  int height = 0;
  return plat::ReadWindowPixels(window, &pixels, &width, &height) &&
         WritePng(path, pixels, width, height, error);
}

// Counts over one second of the progress line.
// CPU time of the whole process (every thread), in milliseconds.
double ProcessCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// A poll timeout that ends at `when`, rounded up so that the loop does not
// spin in the last millisecond.
int MillisecondsUntil(Clock::time_point when) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now()).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, 1000));
}

// Where the counted part of the call began.
struct CpuMark {
  std::uint64_t captured;
  std::uint64_t received;
  double cpu_ms;
};

struct Tally {
  std::uint64_t captured = 0;
  std::uint64_t received = 0;
  std::size_t latencies = 0;
  SocketTraffic traffic;
};

// The module tells its observers only that a conference closed; the peer
// network's reason is in the module's log, from `offset` on for this run.
bool LogSays(const std::filesystem::path& log, std::uintmax_t offset, const std::string& text) {
  std::ifstream in(log, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  const std::string tail((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return tail.find(text) != std::string::npos;
}

std::filesystem::path ModuleLog() {
  return std::filesystem::path(plat::GetExecutablePath()).parent_path() / "logs" / "video_log.txt";
}

}  // namespace

bool PrepareOutputFolder(const std::string& dir, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::string probe = dir + "/.videoconf-write-test";
  std::ofstream out(probe);
  out << "ok";
  out.close();
  if (ec || !out) {
    *error = "cannot write snapshots to '" + dir + "'" + (ec ? ": " + ec.message() : "") +
             "; choose a writable folder with --out";
    return false;
  }
  std::filesystem::remove(probe, ec);
  return true;
}

int RunPeer(const PeerOptions& options) {
  const std::string& name = options.name;
  std::string error;
  if (!PrepareOutputFolder(options.out_dir, &error)) {
    return Fail(name, error);
  }
  std::unique_ptr<LoadedModule> module = LoadedModule::Load(&error);
  if (!module) {
    return Fail(name, error);
  }
  kalo::video::IVideoConfManager* manager = module->Manager(&error);
  if (manager == nullptr) {
    return Fail(name, error);
  }
  const std::string url = NatsUrl();
  for (const auto until = Clock::now() + std::chrono::seconds(5);
       !manager->IsKSNReady() && Clock::now() < until && !StopRequested();) {
    PumpQueue(50);
  }
  if (!manager->IsKSNReady()) {
    // The library has said why just above; this line says what to do.
    return Fail(name, "no connection to the NATS server at " +
                          ksn::ServerListText(ksn::KsnSettings::FromEnvironment()) +
                          ": start one (nats-server) or point KSN_NATS_URL at one");
  }
  std::string camera;
  if (!options.receive_only && (!ChooseCamera(*manager, options.camera, &camera, &error) ||
                                !OpenCamera(*manager, camera, options.super, &error))) {
    return Fail(name, error);
  }

  const int width = options.super ? 352 : 176;
  const int height = options.super ? 288 : 144;
  HostWindow self(name + ": local preview", width, height);
  HostWindow remote(name + ": remote", width, height);
  if (self.hwnd() == 0 || remote.hwnd() == 0) {
    return Fail(name, "cannot create the host windows");
  }
  std::unique_ptr<WindowPresenter> presenter;
  if (options.x11) {
    presenter = MakeX11Presenter(name == "B" ? 1 : 0, &error);
    if (!presenter) {
      return Fail(name, error);
    }
  }
  ConferenceObserver observer;
  manager->RegisterObserver(&observer);
  manager->AddSelfVideoWindow(self.hwnd(), nullptr);

  std::string cid = options.cid;
  if (cid == "new") {
    cid.clear();
    manager->CreateCid(cid);
    if (cid.empty()) {
      manager->UnregisterObserver(&observer);
      return Fail(name, "the module could not make a conference id");
    }
    std::printf("cid %s\n", cid.c_str());
    std::fflush(stdout);
  }
  std::error_code size_error;
  const std::uintmax_t log_offset = std::filesystem::file_size(ModuleLog(), size_error);
  if (!manager->OpenVideoSession(0, 0, cid, options.super ? 0 : 1)) {
    manager->UnregisterObserver(&observer);
    return Fail(name, "the conference '" + cid + "' could not be opened (see the debug log)");
  }
  manager->AddSessionVideoWindow(cid, remote.hwnd(), nullptr);

  const int nats_port = FirstServerPort(url);
  FrameWatch self_watch(self.hwnd());
  FrameWatch remote_watch(remote.hwnd());
  Tally last;
  last.traffic = MeasureTraffic(nats_port);
  const auto start = Clock::now();
  auto next_report = start + std::chrono::seconds(1);
  // The seconds count from the pairing, so both members of a call end
  // together; the other member gets a while to turn up.
  const auto wait_for_other = std::chrono::seconds(15);
  auto end = start + std::chrono::seconds(options.seconds) + wait_for_other;
  bool counting = false;
  CpuMark counted_from{0, 0, ProcessCpuMs()};
  bool camera_lost = false;  // the module watches for it to come back
  while (Clock::now() < end && !StopRequested() && !observer.closed) {
    if (!options.receive_only && camera_lost == manager->IsVideoOpened()) {
      camera_lost = !camera_lost;
      std::printf("%s: %s\n", name.c_str(), camera_lost ? "camera lost" : "camera back");
      std::fflush(stdout);
    }
    if (observer.ready && !counting) {
      counting = true;
      end = Clock::now() + std::chrono::seconds(options.seconds);
      counted_from = {self_watch.frames(), remote_watch.frames(), ProcessCpuMs()};
    }
    // Asleep until the queue has work or a timer of ours is due; the
    // report and the end of the call are the only other wake-ups.
    PumpQueue(MillisecondsUntil(std::min(next_report, end)));
    const std::int64_t now_ms = plat::WallClockMilliseconds();
    if (self_watch.Look(now_ms) && presenter) {
      presenter->Show(self.hwnd(), self.title());
    }
    if (remote_watch.Look(now_ms) && presenter) {
      presenter->Show(remote.hwnd(), remote.title());
    }
    if (Clock::now() >= next_report) {
      next_report += std::chrono::seconds(1);
      const SocketTraffic traffic = MeasureTraffic(nats_port);
      // A reconnect opens a new socket whose counters start again from zero.
      const auto since = [](std::uint64_t now, std::uint64_t before) {
        return now >= before ? now - before : now;
      };
      const auto& delays = remote_watch.latencies_ms();
      const std::vector<double> recent(delays.begin() + static_cast<std::ptrdiff_t>(last.latencies),
                                       delays.end());
      std::printf(
          "%s: captured %llu fps, sent %llu fps, received %llu fps, %llu kbit/s out, %llu kbit/s "
          "in, latency %s ms\n",
          name.c_str(), static_cast<unsigned long long>(self_watch.frames() - last.captured),
          static_cast<unsigned long long>(since(traffic.packets_out, last.traffic.packets_out)),
          static_cast<unsigned long long>(remote_watch.frames() - last.received),
          static_cast<unsigned long long>(since(traffic.bytes_out, last.traffic.bytes_out) * 8 /
                                          1000),
          static_cast<unsigned long long>(since(traffic.bytes_in, last.traffic.bytes_in) * 8 /
                                          1000),
          recent.empty() ? "-" : std::to_string(static_cast<int>(Percentile(recent, 50))).c_str());
      std::fflush(stdout);
      last = {self_watch.frames(), remote_watch.frames(), delays.size(), traffic};
    }
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu_ms = ProcessCpuMs() - counted_from.cpu_ms;
  const auto per_frame = [cpu_ms](std::uint64_t frames) {
    return frames > 0 ? cpu_ms / static_cast<double>(frames) : 0.0;
  };

  const std::string prefix = options.out_dir + "/" + name;
  bool snapshots = Snapshot(self.hwnd(), prefix + "-self.png", &error);
  snapshots = Snapshot(remote.hwnd(), prefix + "-remote.png", &error) && snapshots;
  std::error_code ec;
  std::filesystem::copy_file(ModuleLog(), prefix + "-video_log.txt",
                             std::filesystem::copy_options::overwrite_existing, ec);

  manager->RemoveSessionVideoWindow(cid, remote.hwnd());
  manager->RemoveSelfVideoWindow(self.hwnd());
  manager->CloseVideoSession(cid);
  manager->UnregisterObserver(&observer);

  const auto& delays = remote_watch.latencies_ms();
  std::printf(
      "%s: summary: %.1f s, captured %llu, received %llu frames; glass-to-glass latency p50 %.0f "
      "ms, p95 %.0f ms over %zu stamped frames; cpu %.3f ms per captured frame, %.3f ms per "
      "received frame; snapshots %s-self.png %s-remote.png%s\n",
      name.c_str(), elapsed, static_cast<unsigned long long>(self_watch.frames()),
      static_cast<unsigned long long>(remote_watch.frames()), Percentile(delays, 50),
      Percentile(delays, 95), delays.size(), per_frame(self_watch.frames() - counted_from.captured),
      per_frame(remote_watch.frames() - counted_from.received), prefix.c_str(), prefix.c_str(),
      snapshots ? "" : (" (not written: " + error + ")").c_str());
  // The other member ends a moment apart from us; a close that early is a fault.
  const bool left_early = observer.closed && Clock::now() < end - std::chrono::seconds(2);
  if (observer.closed && !observer.ready &&
      LogSays(ModuleLog(), size_error ? 0 : log_offset,
              "err=the conference already has two members")) {
    return Fail(name, "the conference already has two members");
  }
  if (observer.closed) {
    std::printf("%s: the conference was closed by the network (reason %d)%s\n", name.c_str(),
                observer.reason,
                left_early ? ": the other side or the NATS server went away early" : "");
  }
  std::fflush(stdout);
  if (left_early) {
    return kPeerClosedByOther;
  }
  return remote_watch.frames() > 0 ? kPeerVideoFlowed : kPeerNoVideo;
}

}  // namespace videoconf_app
