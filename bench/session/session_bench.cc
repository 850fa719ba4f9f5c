// The receive path of a conference session, from bytes delivered by the
// library to frames painted into a host window, beside memcpy of the same
// pixels. The fake decoder fills the whole picture, as a real one writes it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "plat/window.h"
#include "session/video_conf_session.h"
#include "support/fake_codec.h"
#include "support/fake_ksn_control.h"
#include "support/video_packet.h"

namespace {

using kalo::video::VideoConfSession;

// A typical encoded frame of these sizes.
constexpr std::size_t kPayload = 2000;

std::string VideoPacket(std::uint8_t key, int width, int height, std::uint32_t seq) {
  VIDEODATA::FrameInfo info = vc_test::TestFrameInfo(key, static_cast<std::uint16_t>(width),
                                                     static_cast<std::uint16_t>(height), seq);
  info.frame_rate = 15;
  info.bitrate = 100000;
  return vc_test::VideoPacket(info, std::string(kPayload, static_cast<char>(seq)));
}

class Events final : public kalo::video::ISessionEvents {
 public:
  void OnKSNSessionReady(const std::string&) override {}
  void OnKSNSessionClose(const std::string&) override { closed = true; }
  bool closed = false;
};

plat::HWND MakeWindow(int width, int height) {
  static const char* const kClass = [] {
    plat::WNDCLASS wc;
    wc.lpfnWndProc = plat::DefWindowProc;
    wc.hInstance = plat::GetModuleHandle(nullptr);
    wc.lpszClassName = "bench_session_window";
    plat::RegisterClass(&wc);
    return wc.lpszClassName;
  }();
  return plat::CreateWindow(kClass, "video", plat::WS_VISIBLE, 0, 0, width, height, 0, nullptr,
                            plat::GetModuleHandle(nullptr), nullptr);
}

// Args: picture width and height, window width and height; a hostile stream
// (named in the arguments as width 0) alternates an 8192 x 8192 picture with
// two sizes no decoder is made for.
void BM_ReceiveDecodePaint(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const plat::HWND window =
      MakeWindow(static_cast<int>(state.range(2)), static_cast<int>(state.range(3)));

  auto codecs = std::make_shared<vc_test::CodecJournal>();
  codecs->record = false;
  const COMM::RefPtr<vc_test::FakeKSNControl> control = vc_test::FakeKSNControl::Create();
  control->record_recv = false;
  kalo::video::VideoConfSessionSetup setup;
  setup.codec_factory = vc_test::FakeCodecFactory(codecs);
  std::uint64_t now = 133500000000000000;
  setup.system_time = [&now] { return now += 10000; };  // 1 ms a frame: none dropped
  Events events;
  COMM::RefPtr<VideoConfSession> session =
      VideoConfSession::Create(&events, COMM::RefPtr<KSNControl>(control.get()), "bench", 0, setup);
  session->AddWindow(window);
  session->Start();

  if (width == 0) {
    codecs->fail_creates = 1 << 30;
    const std::string hostile = VideoPacket(1, 8192, 8192, 1) + VideoPacket(1, 3840, 2160, 2) +
                                VideoPacket(1, 3840, 2156, 3);
    for (auto _ : state)
      control->Deliver("bench", hostile);
    state.SetItemsProcessed(state.iterations() * 3);
    session.Reset();
    plat::DestroyWindow(window);
    return;
  }
  control->Deliver("bench", VideoPacket(1, width, height, 0));
  std::string packet = VideoPacket(0, width, height, 1);
  // Each packet carries the next seq, as a sender's do: a gap would stop the
  // painting until the next key frame.
  for (std::uint32_t seq = 1; auto _ : state) {
    for (int i = 0; i < 4; ++i)
      packet[9 + i] = static_cast<char>(seq >> (8 * i));
    ++seq;
    control->Deliver("bench", packet);
  }

  if (events.closed || session->windows().attributes(window)->frame_count !=
                           static_cast<std::uint64_t>(state.iterations()) + 1)
    state.SkipWithError("frames were not all painted");
  state.SetItemsProcessed(state.iterations());
  state.counters["frames_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  session.Reset();
  plat::DestroyWindow(window);
}
BENCHMARK(BM_ReceiveDecodePaint)
    ->Args({352, 288, 352, 288})
    ->Args({176, 144, 640, 480})
    ->Args({0, 0, 352, 288})
    ->Unit(benchmark::kMicrosecond);

// memcpy of a picture of width x height 32-bit pixels: the least any path
// that touches each pixel once must cost.
void BM_MemcpyPixels(benchmark::State& state) {
  const std::size_t bytes = static_cast<std::size_t>(state.range(0)) * state.range(1) * 4;
  std::vector<std::uint8_t> from(bytes, 0x5A);
  std::vector<std::uint8_t> to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_MemcpyPixels)
    ->Args({352, 288})
    ->Args({176, 144})
    ->Args({640, 480})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
