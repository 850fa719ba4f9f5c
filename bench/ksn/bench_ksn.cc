// One-way latency (Send to notifyRecv to Recv, p50/p99) and throughput of
// the peer-network library between two processes, beside plain cnats
// publish/subscribe of the same bytes with the same connection options.
#include <benchmark/benchmark.h>
#include <nats/nats.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "bench_frame.h"
#include "ksn_control_impl.h"
#include "nats_connection_options.h"
#include "process/child_process.h"
#include "process/nats_server.h"
#include "recording_sink.h"

namespace {

constexpr char kHandle[] = "bench";
constexpr char kRawSubject[] = "bench.raw";
constexpr int kBurst = 256;

// The server, both receiving processes and both sending ends, made once.
struct World {
  World() {
    server = vc_process::NatsServer::Start();
    if (!server)
      return;
    ksn::KsnSettings settings;
    settings.servers = {server->url()};
    ksn_peer = std::make_unique<vc_process::ChildProcess>(
        std::vector<std::string>{KSN_BENCH_PEER, "ksn", KSN_LIBRARY, kHandle}, server->url());
    raw_peer = std::make_unique<vc_process::ChildProcess>(
        std::vector<std::string>{KSN_BENCH_PEER, "raw", kRawSubject}, server->url());
    control = ksn::KsnControlImpl::Create(settings);
    sink = ksn_test::RecordingSink::Create(control);
    std::string error;
    ksn::NatsOptionsPtr options = ksn::MakeNatsOptions(settings, &error);
    natsConnection_Connect(&raw, options.get());
    ok = raw && ksn_peer->WaitLine("ready", 10000) == "ready" &&
         raw_peer->WaitLine("ready", 10000) == "ready" &&
         ksn_test::PumpUntil([&] { return control->IsReady(); }, 10000);
    if (ok) {
      control->OpenSession(kHandle, 2, sink, 0);
      ok = ksn_test::PumpUntil([&] { return control->IsConnected(kHandle); }, 10000);
    }
  }

  ~World() {
    if (control) {
      if (ok)
        control->CloseSession(kHandle);
      sink->Release();
      control->Release();
    }
    if (raw)
      natsConnection_Destroy(raw);
  }

  // The next 8-byte answer from the library's receiver.
  std::int64_t KsnAnswer() {
    ksn_test::PumpUntil([&] { return sink->received.size() >= 8; }, 10000);
    std::int64_t value = -1;
    if (sink->received.size() >= 8) {
      std::memcpy(&value, sink->received.data(), 8);
      sink->received.erase(0, 8);
    }
    return value;
  }

  std::int64_t RawAnswer(const std::string& packet) {
    natsMsg* reply = nullptr;
    std::int64_t value = -1;
    if (natsConnection_Request(&reply, raw, kRawSubject, packet.data(),
                               static_cast<int>(packet.size()), 10000) == NATS_OK) {
      std::memcpy(&value, natsMsg_GetData(reply), 8);
      natsMsg_Destroy(reply);
    }
    return value;
  }

  std::unique_ptr<vc_process::NatsServer> server;
  std::unique_ptr<vc_process::ChildProcess> ksn_peer;
  std::unique_ptr<vc_process::ChildProcess> raw_peer;
  ksn::KsnControlImpl* control = nullptr;
  ksn_test::RecordingSink* sink = nullptr;
  natsConnection* raw = nullptr;
  bool ok = false;
};

World& TheWorld() {
  static World world;
  return world;
}

void ReportPercentiles(benchmark::State& state, std::vector<std::int64_t>* samples) {
  if (samples->empty())
    return;
  std::sort(samples->begin(), samples->end());
  state.counters["p50_us"] = static_cast<double>((*samples)[samples->size() / 2]) / 1000.0;
  state.counters["p99_us"] = static_cast<double>((*samples)[samples->size() * 99 / 100]) / 1000.0;
}

void BM_KsnOneWay(benchmark::State& state) {
  World& world = TheWorld();
  if (!world.ok)
    return state.SkipWithError("no server or peer");
  std::string packet(static_cast<std::size_t>(state.range(0)), 'v');
  std::vector<std::int64_t> samples;
  for (auto _ : state) {
    ksn_bench::Stamp(&packet, ksn_bench::kProbe);
    world.control->Send(kHandle, packet.data(), static_cast<std::uint32_t>(packet.size()));
    samples.push_back(world.KsnAnswer());
  }
  ReportPercentiles(state, &samples);
}

void BM_RawOneWay(benchmark::State& state) {
  World& world = TheWorld();
  if (!world.ok)
    return state.SkipWithError("no server or peer");
  std::string packet(static_cast<std::size_t>(state.range(0)), 'v');
  std::vector<std::int64_t> samples;
  for (auto _ : state) {
    ksn_bench::Stamp(&packet, ksn_bench::kProbe);
    samples.push_back(world.RawAnswer(packet));
  }
  ReportPercentiles(state, &samples);
}

// A burst of packets, then the end marker; the answer says how many arrived.
void BM_KsnThroughput(benchmark::State& state) {
  World& world = TheWorld();
  if (!world.ok)
    return state.SkipWithError("no server or peer");
  std::string packet(static_cast<std::size_t>(state.range(0)), 'v');
  std::string end(ksn_bench::kHeader, '\0');
  ksn_bench::Stamp(&end, ksn_bench::kEnd);
  world.control->Send(kHandle, end.data(), static_cast<std::uint32_t>(end.size()));
  std::int64_t before = world.KsnAnswer(), delivered = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBurst; ++i) {
      ksn_bench::Stamp(&packet, ksn_bench::kBulk);
      world.control->Send(kHandle, packet.data(), static_cast<std::uint32_t>(packet.size()));
    }
    ksn_bench::Stamp(&end, ksn_bench::kEnd);
    world.control->Send(kHandle, end.data(), static_cast<std::uint32_t>(end.size()));
    const std::int64_t total = world.KsnAnswer();
    delivered += total - before;
    before = total;
  }
  state.SetBytesProcessed(delivered * state.range(0));
  state.counters["lost"] = static_cast<double>(kBurst * state.iterations() - delivered);
}

void BM_RawThroughput(benchmark::State& state) {
  World& world = TheWorld();
  if (!world.ok)
    return state.SkipWithError("no server or peer");
  std::string packet(static_cast<std::size_t>(state.range(0)), 'v');
  std::string end(ksn_bench::kHeader, '\0');
  ksn_bench::Stamp(&end, ksn_bench::kEnd);
  std::int64_t before = world.RawAnswer(end), delivered = 0;
  for (auto _ : state) {
    for (int i = 0; i < kBurst; ++i) {
      ksn_bench::Stamp(&packet, ksn_bench::kBulk);
      natsConnection_Publish(world.raw, kRawSubject, packet.data(),
                             static_cast<int>(packet.size()));
    }
    ksn_bench::Stamp(&end, ksn_bench::kEnd);
    const std::int64_t total = world.RawAnswer(end);
    delivered += total - before;
    before = total;
  }
  state.SetBytesProcessed(delivered * state.range(0));
  state.counters["lost"] = static_cast<double>(kBurst * state.iterations() - delivered);
}

// Wall-clock time throughout: the work happens in two processes and a server.
BENCHMARK(BM_KsnOneWay)->Arg(2048)->Arg(61440)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RawOneWay)->Arg(2048)->Arg(61440)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_KsnThroughput)->Arg(61440)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RawThroughput)->Arg(61440)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
