// How soon a picture comes: after pairing (the first picture of a member who
// joins a sender already running) and after a lost packet (the next clean
// picture), in one process over the manager's frame path, a real codec and
// the fake network, frames paced as the camera paces them. Reports p50, p95
// and the worst in milliseconds over 50 joins and 200 losses.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "external/ivcodec.h"
#include "support/loopback_call.h"

namespace {

using Clock = std::chrono::steady_clock;

std::unique_ptr<IVCodec> RealCodec() {
  return std::unique_ptr<IVCodec>(IVCodec_Creater());
}

// Sends frames at the mode's pace until `done` holds (or a second passed);
// the milliseconds since `from`.
template <typename Done>
double FramesUntil(vc_test::LoopbackCall& call, Clock::time_point& next, Clock::time_point from,
                   Done done) {
  while (!done() && Clock::now() < from + std::chrono::seconds(1)) {
    std::this_thread::sleep_until(next);
    next += std::chrono::milliseconds(call.frame_interval_ms());
    call.SendFrame();
  }
  return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

void SendFrames(vc_test::LoopbackCall& call, Clock::time_point& next, int count) {
  FramesUntil(call, next, Clock::now(), [&count] { return count-- == 0; });
}

void Report(benchmark::State& state, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  state.counters["p50_ms"] = ms[ms.size() / 2];
  state.counters["p95_ms"] = ms[ms.size() * 95 / 100];
  state.counters["max_ms"] = ms.back();
}

// Arg: 1 super mode (15 frames a second), 0 normal (20).
void BM_FirstPictureAfterPairing(benchmark::State& state) {
  std::mt19937 rng(7);
  for (auto _ : state) {
    std::vector<double> ms;
    for (int join = 0; join < 50; ++join) {
      vc_test::LoopbackCall call(&RealCodec, state.range(0) == 1);
      auto next = Clock::now();
      // The sender has been sending for a while; the pairing falls anywhere
      // between two of its frames.
      SendFrames(call, next, 5);
      std::this_thread::sleep_for(
          std::chrono::milliseconds(rng() % static_cast<unsigned>(call.frame_interval_ms())));
      const auto paired = Clock::now();
      call.Pair();
      ms.push_back(FramesUntil(call, next, paired, [&] { return call.painted() > 0; }));
    }
    Report(state, std::move(ms));
  }
}
BENCHMARK(BM_FirstPictureAfterPairing)->Arg(0)->Arg(1)->Iterations(1)->UseRealTime();

void BM_CleanPictureAfterALostPacket(benchmark::State& state) {
  for (auto _ : state) {
    vc_test::LoopbackCall call(&RealCodec, state.range(0) == 1);
    call.Pair();
    auto next = Clock::now();
    std::vector<double> ms;
    for (int loss = 0; loss < 200; ++loss) {
      // Three frames between losses, so that every loss is its own and the
      // sender's pacing of its answers never holds one back.
      SendFrames(call, next, 3);
      const std::uint64_t before = call.painted();
      std::this_thread::sleep_until(next);
      next += std::chrono::milliseconds(call.frame_interval_ms());
      call.SendFrame(true);
      const auto lost = Clock::now();
      ms.push_back(FramesUntil(call, next, lost, [&] { return call.painted() > before; }));
    }
    Report(state, std::move(ms));
  }
}
BENCHMARK(BM_CleanPictureAfterALostPacket)->Arg(0)->Arg(1)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
