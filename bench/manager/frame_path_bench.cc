// One camera frame through the outgoing path (preview paint into one window,
// scale, encode, packet, two sends to a fake network) beside the codec's
// encode of the same pictures alone, with allocations per frame.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <vector>

#include "display/video_wnds.h"
#include "external/ivcodec.h"
#include "malloc_counter.h"
#include "manager/frame_sender.h"
#include "session/bandwith_recorder.h"
#include "session/video_conf_session.h"
#include "support/fake_codec.h"
#include "support/fake_ksn_control.h"
#include "support/host_window.h"

namespace {

using kalo::video::FrameSender;
using kalo::video::SendSettings;

// Two seconds of a camera: a pattern drifting a few pixels a frame, so the
// encoder has motion to code, as it has with a real scene.
class CameraPictures {
 public:
  CameraPictures(int width, int height, int count) : width_(width), height_(height) {
    for (int i = 0; i < count; ++i) {
      std::vector<std::uint32_t> words(static_cast<std::size_t>(width) * height);
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          const auto u = static_cast<std::uint32_t>(x + 3 * i);
          const auto v = static_cast<std::uint32_t>(y + 2 * i);
          words[static_cast<std::size_t>(y) * width + x] =
              0xFF000000u | ((u * 5) & 0xFF) << 16 | ((v * 7) & 0xFF) << 8 | ((u ^ v) & 0xFF);
        }
      }
      pictures_.push_back(std::move(words));
    }
  }
  VideoFrame frame(std::size_t i) {
    std::vector<std::uint32_t>& words = pictures_[i % pictures_.size()];
    return {reinterpret_cast<std::uint8_t*>(words.data()), width_ * 4, width_, height_,
            static_cast<std::int64_t>(i)};
  }
  std::uint32_t size() const { return static_cast<std::uint32_t>(width_ * height_ * 4); }

 private:
  int width_;
  int height_;
  std::vector<std::vector<std::uint32_t>> pictures_;
};

// The two modes: camera size, frame rate, bit rate, stream.
struct Mode {
  int width;
  int height;
  std::int32_t frame_rate;
  std::int32_t bit_rate;
  std::int32_t video_type;
};
constexpr Mode kModes[] = {{176, 144, 20, 49000, 1}, {352, 288, 15, 100000, 0}};

// This thread's CPU time: the load of other processes does not count.
double ThreadMicros() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

void Report(benchmark::State& state, std::uint64_t allocations) {
  state.counters["allocs_per_frame"] =
      static_cast<double>(allocations) / static_cast<double>(state.iterations());
  state.counters["frames_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Arg: 0 normal mode, 1 super mode. The picture the encoder gets: 176 x 144
// (the small stream) or 352 x 288.
void BM_EncodeAlone(benchmark::State& state) {
  const Mode& mode = kModes[state.range(0)];
  CameraPictures camera(mode.width, mode.height, 40);
  std::unique_ptr<IVCodec> encoder(IVCodec_Creater());
  encoder->open(mode.width, mode.height, static_cast<float>(mode.frame_rate),
                static_cast<std::uint32_t>(mode.bit_rate), 32);
  std::vector<std::uint8_t> out(camera.size());
  std::size_t i = 0;
  const auto encode = [&] {
    const VideoFrame frame = camera.frame(i++);
    std::uint32_t length = 0;
    std::uint8_t key = 0;
    encoder->encode(frame.data, camera.size(), out.data(), &length, &key);
    benchmark::DoNotOptimize(length);
  };
  for (int warm = 0; warm < 5; ++warm)
    encode();
  const std::uint64_t before = bench::AllocationCount();
  double encode_us = 0;
  for (auto _ : state) {
    const double t0 = ThreadMicros();
    encode();
    encode_us += ThreadMicros() - t0;
  }
  Report(state, bench::AllocationCount() - before);
  state.counters["encode_us"] = encode_us / static_cast<double>(state.iterations());
}
BENCHMARK(BM_EncodeAlone)->ArgName("super")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

class NoEvents final : public kalo::video::ISessionEvents {
 public:
  void OnKSNSessionReady(const std::string&) override {}
  void OnKSNSessionClose(const std::string&) override {}
};

// Arg as above. The fake network keeps a copy of every packet sent, one
// allocation per send, which the count includes: two per frame.
void BM_FramePath(benchmark::State& state) {
  const Mode& mode = kModes[state.range(0)];
  CameraPictures camera(mode.width, mode.height, 40);
  vc_test::HostWindow window(mode.width, mode.height);
  kalo::video::VideoWnds preview;
  preview.AddWindow(window.hwnd());

  const auto control = vc_test::FakeKSNControl::Create();
  NoEvents events;
  kalo::video::SessionTable sessions;
  for (const char* cid : {"a", "b"}) {
    sessions[cid] = kalo::video::VideoConfSession::Create(
        &events, COMM::RefPtr<KSNControl>(control.get()), cid, 0);
    sessions[cid]->Start();
    control->connected.insert(cid);
  }
  FrameSender sender(&kalo::video::CreateLibraryCodec);
  bandwith_recorder recorder(1000, 10);
  const ClockStamp clock = ClockStamp::Now();
  SendSettings settings{mode.video_type, UINT32_MAX, mode.frame_rate, mode.bit_rate};

  std::size_t i = 0;
  bool sent = true;
  // Per stage: CPU microseconds and allocations of the preview, and of the
  // sender (scale, encode, packet, sends).
  double preview_us = 0;
  double send_us = 0;
  std::uint64_t preview_allocs = 0;
  std::uint64_t send_allocs = 0;
  const auto frame_path = [&] {
    const VideoFrame frame = camera.frame(i++);
    const double t0 = ThreadMicros();
    const std::uint64_t a0 = bench::AllocationCount();
    preview.ShowFrame(frame);
    const double t1 = ThreadMicros();
    const std::uint64_t a1 = bench::AllocationCount();
    sent &= sender.EncodeAndSendFrame(frame, settings, sessions, recorder, clock);
    send_us += ThreadMicros() - t1;
    preview_us += t1 - t0;
    send_allocs += bench::AllocationCount() - a1;
    preview_allocs += a1 - a0;
    control->calls.clear();
    control->sent.clear();
  };
  for (int warm = 0; warm < 5; ++warm)
    frame_path();
  preview_us = send_us = 0;
  preview_allocs = send_allocs = 0;
  const std::uint64_t before = bench::AllocationCount();
  for (auto _ : state)
    frame_path();
  Report(state, bench::AllocationCount() - before);
  const auto n = static_cast<double>(state.iterations());
  state.counters["preview_us"] = preview_us / n;
  state.counters["send_us"] = send_us / n;
  state.counters["preview_allocs"] = static_cast<double>(preview_allocs) / n;
  state.counters["send_allocs"] = static_cast<double>(send_allocs) / n;
  if (!sent)
    state.SkipWithError("a frame was not sent");
  for (auto& [cid, session] : sessions)
    session->Stop();
}
BENCHMARK(BM_FramePath)->ArgName("super")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
