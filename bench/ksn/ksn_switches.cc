// Context switches per received message in the receiving process of a
// one-way call: ksn_bench_peer through the library named, fed from here at
// a steady pace, over a nats-server of our own. Prints
// each of the receiver's threads, so that a build of the library before a
// change can be set beside one after it.
//   ksn_switches <receiver's library> [messages=300] [per second=60]
#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "bench_frame.h"
#include "ksn_control_impl.h"
#include "process/child_process.h"
#include "process/nats_server.h"
#include "recording_sink.h"

namespace {

struct Thread {
  std::string name;
  long switches = 0;     // voluntary: the thread waited for something
  long preempted = 0;    // involuntary: mostly other load on the machine
  long long run_ns = 0;  // time on a CPU
};

// Switches of every thread of `pid`, by thread id.
std::map<std::string, Thread> Switches(pid_t pid) {
  std::map<std::string, Thread> threads;
  const std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* tasks = opendir(dir.c_str());
  if (!tasks)
    return threads;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.')
      continue;
    Thread& thread = threads[entry->d_name];
    std::ifstream(dir + "/" + entry->d_name + "/comm") >> thread.name;
    std::ifstream(dir + "/" + entry->d_name + "/schedstat") >> thread.run_ns;
    std::ifstream status(dir + "/" + entry->d_name + "/status");
    for (std::string line; std::getline(status, line);) {
      const long value = std::atol(line.substr(line.find(':') + 1).c_str());
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
        thread.switches = value;
      else if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
        thread.preempted = value;
    }
  }
  closedir(tasks);
  return threads;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: ksn_switches <library> [messages] [per second]\n");
    return 2;
  }
  const int count = argc > 2 ? std::atoi(argv[2]) : 300;
  const int rate = argc > 3 ? std::atoi(argv[3]) : 60;
  auto server = vc_process::NatsServer::Start();
  if (!server)
    return 1;
  const std::string handle = "switches";
  vc_process::ChildProcess peer({KSN_BENCH_PEER, "ksn", argv[1], handle}, server->url());
  if (peer.WaitLine("ready", 10000) != "ready")
    return 1;
  ksn::KsnSettings settings;
  settings.servers = {server->url()};
  ksn::KsnControlImpl* control = ksn::KsnControlImpl::Create(settings);
  ksn_test::RecordingSink* sink = ksn_test::RecordingSink::Create(control);
  if (!ksn_test::PumpUntil([&] { return control->IsReady(); }, 10000))
    return 1;
  control->OpenSession(handle, 2, sink, 0);
  if (!ksn_test::PumpUntil([&] { return control->IsConnected(handle); }, 10000))
    return 1;
  ksn_test::PumpUntil([] { return false; }, 1500);  // past the pairing's own traffic

  const auto before = Switches(peer.pid());
  const auto start = std::chrono::steady_clock::now();
  std::string packet(12000, '\x5a');  // about a frame of CIF video
  for (int i = 0; i < count; ++i) {
    ksn_bench::Stamp(&packet, ksn_bench::kBulk);
    control->Send(handle, packet.data(), static_cast<std::uint32_t>(packet.size()));
    const auto due = start + std::chrono::microseconds(1000000LL * (i + 1) / rate);
    ksn_test::PumpUntil([&] { return std::chrono::steady_clock::now() >= due; }, 1000);
  }
  std::string end(ksn_bench::kHeader, '\0');
  ksn_bench::Stamp(&end, ksn_bench::kEnd);
  control->Send(handle, end.data(), static_cast<std::uint32_t>(end.size()));
  std::int64_t seen = 0;
  ksn_test::PumpUntil([&] { return sink->received.size() >= sizeof seen; }, 10000);
  if (sink->received.size() >= sizeof seen)
    std::memcpy(&seen, sink->received.data(), sizeof seen);
  const bool ok = seen == count;
  const auto after = Switches(peer.pid());

  long total = 0, preempted = 0;
  long long run_ns = 0;
  std::printf("%d messages at %d a second, received %s\n", count, rate, ok ? "whole" : "NOT whole");
  for (const auto& [tid, thread] : after) {
    const auto was = before.find(tid);
    const long delta = thread.switches - (was == before.end() ? 0 : was->second.switches);
    const long lost = thread.preempted - (was == before.end() ? 0 : was->second.preempted);
    total += delta;
    preempted += lost;
    run_ns += thread.run_ns - (was == before.end() ? 0 : was->second.run_ns);
    std::printf("  thread %-8s waited %6ld (%.2f a message), preempted %ld\n", tid.c_str(), delta,
                static_cast<double>(delta) / count, lost);
  }
  std::printf("  all threads waited %ld (%.2f a message), preempted %ld (%.2f a message)\n", total,
              static_cast<double>(total) / count, preempted,
              static_cast<double>(preempted) / count);
  std::printf("  CPU %.1f us a message\n", static_cast<double>(run_ns) / 1000.0 / count);
  control->CloseSession(handle);
  sink->Release();
  control->Release();
  return ok ? 0 : 1;
}
