// How long a call stays dark when its nats-server dies and comes back on the
// same port: from the moment the new server accepts connections until a
// packet sent after it reaches the other member. Two members in this
// process, each with a control of its own.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "ksn_control_impl.h"
#include "process/nats_server.h"
#include "recording_sink.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr char kHandle[] = "recover";

struct Member {
  explicit Member(const std::string& url) {
    ksn::KsnSettings settings;
    settings.servers = {url};
    control = ksn::KsnControlImpl::Create(settings);
    sink = ksn_test::RecordingSink::Create(control);
  }
  ~Member() {
    control->CloseSession(kHandle);
    sink->Release();
    control->Release();
  }
  ksn::KsnControlImpl* control;
  ksn_test::RecordingSink* sink;
};

// Sends small numbered packets from a to b until one numbered at least
// `from` arrives; false after 15 s.
bool Flowing(Member& a, Member& b, std::uint32_t* next) {
  const std::uint32_t from = *next;
  return ksn_test::PumpUntil(
      [&] {
        std::uint32_t index = (*next)++;
        a.control->Send(kHandle, &index, sizeof index);
        while (b.sink->received.size() >= sizeof index) {
          std::memcpy(&index, b.sink->received.data(), sizeof index);
          b.sink->received.erase(0, sizeof index);
          if (index >= from)
            return true;
        }
        return false;
      },
      15000);
}

void BM_VideoBackAfterServerReturns(benchmark::State& state) {
  auto server = vc_process::NatsServer::Start();
  if (!server) {
    state.SkipWithError("no nats-server");
    return;
  }
  const int port = server->port();
  Member a(server->url()), b(server->url());
  std::uint32_t next = 0;
  const bool paired =
      ksn_test::PumpUntil([&] { return a.control->IsReady() && b.control->IsReady(); }, 10000);
  if (paired) {
    a.control->OpenSession(kHandle, 2, a.sink, 0);
    b.control->OpenSession(kHandle, 2, b.sink, 0);
  }
  if (!paired || !Flowing(a, b, &next)) {
    state.SkipWithError("no call");
    return;
  }
  for (auto _ : state) {
    server->Kill();
    ksn_test::PumpUntil([&] { return !a.control->IsReady(); }, 5000);
    ksn_test::PumpUntil([] { return false; }, 500);
    server = vc_process::NatsServer::Start({port, "", false, "", ""});
    const auto back = Clock::now();
    if (!server || !Flowing(a, b, &next)) {
      state.SkipWithError("the call did not come back");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - back).count());
  }
  state.counters["closed"] = static_cast<double>(a.sink->closes.size() + b.sink->closes.size());
}
BENCHMARK(BM_VideoBackAfterServerReturns)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
