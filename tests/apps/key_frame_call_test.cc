// The first picture at once and a lost packet repaired, through real parts:
// a videoconf peer in its own process that a late member joins over a real
// nats-server, and a call in one process whose network loses one packet.
// The times are deadlines on waits; their figures are bench/session's.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "common/debug_log.h"
#include "manager/video_conf_manager.h"
#include "process/child_process.h"
#include "process/nats_server.h"
#include "support/host_window.h"
#include "support/loopback_call.h"
#include "support/pump.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::unique_ptr<IVCodec> RealCodec() {
  return std::unique_ptr<IVCodec>(IVCodec_Creater());
}

class ReadyWatch final : public kalo::video::IVideoConfObserver {
 public:
  void OnSessionReady(const std::string&) override { ready_at = Clock::now(); }
  void OnSessionClose(std::int32_t, const std::string&) override {}
  std::optional<Clock::time_point> ready_at;
};

// A sends from its camera long before B joins; B's first picture follows the
// pairing at once, not A's next periodic key frame (up to two seconds later).
TEST(KeyFrameCall, AMemberWhoJoinsLateSeesAPictureWithin250MsOfPairing) {
  const auto server = vc_process::NatsServer::Start();
  ASSERT_NE(server, nullptr);
  vc_test::TempDir out;
  vc_process::ChildProcess a({VIDEOCONF_PROGRAM, "peer", "--name", "A", "--cid", "new", "--seconds",
                              "60", "--mode", "super", "--out", out.path().string()},
                             server->url());
  const std::string line = a.WaitLine("cid ", 20000);
  ASSERT_FALSE(line.empty()) << "A opened no conference";
  const std::string cid = line.substr(line.find("cid ") + 4);
  std::this_thread::sleep_for(1500ms);  // well into A's first two seconds of frames

  setenv("KSN_NATS_URL", server->url().c_str(), 1);
  kalo::video::VideoConfManagerSetup setup;
  setup.ksn_library = KSN_LIBRARY;
  setup.log_dir = out.path().string();
  setup.session.codec_factory = &RealCodec;
  auto b = std::make_unique<kalo::video::VideoConfManager>(setup);
  for (const auto until = Clock::now() + 10s; !b->IsKSNReady() && Clock::now() < until;)
    vc_test::PumpFor(20ms);
  ReadyWatch watch;
  b->RegisterObserver(&watch);
  vc_test::HostWindow window(352, 288);
  ASSERT_TRUE(b->OpenVideoSession(0, 0, cid, 0));
  b->AddSessionVideoWindow(cid, window.hwnd(), 0);
  for (const auto until = Clock::now() + 20s; !watch.ready_at && Clock::now() < until;)
    vc_test::PumpFor(1ms);
  ASSERT_TRUE(watch.ready_at) << "B never paired with A";

  const auto painted = [&] {
    const auto* attributes = b->FindSession(cid)->windows().attributes(window.hwnd());
    return attributes != nullptr && attributes->frame_count > 0;
  };
  while (!painted() && Clock::now() < *watch.ready_at + 3s)
    vc_test::PumpFor(1ms);
  ASSERT_TRUE(painted()) << "no picture 3 s after pairing";
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *watch.ready_at);
  EXPECT_LE(waited, 250ms);
  b->CloseVideoSession(cid);
  b->UnregisterObserver(&watch);
  b.reset();
  COMM::g_debug_log.set_level(0);
}

// Frames at the normal mode's pace, one packet lost: the receiver shows
// nothing spoilt, asks, and paints a clean picture again within 150 ms; the
// sender's answers are paced.
TEST(KeyFrameCall, ALostPacketIsRepairedWithin150Ms) {
  vc_test::LoopbackCall call(&RealCodec, false);
  call.Pair();
  auto next = Clock::now();
  const auto frame = [&](bool lose) {
    std::this_thread::sleep_until(next);
    next += std::chrono::milliseconds(call.frame_interval_ms());
    call.SendFrame(lose);
  };
  for (int i = 0; i < 10; ++i)
    frame(false);
  ASSERT_EQ(call.painted(), 10u);
  for (int loss = 0; loss < 3; ++loss) {
    const std::uint64_t before = call.painted();
    frame(true);
    const auto lost_at = Clock::now();
    while (call.painted() == before && Clock::now() < lost_at + 1s)
      frame(false);
    EXPECT_LE(Clock::now() - lost_at, 150ms) << "loss " << loss;
    EXPECT_TRUE(call.last_was_key()) << "a picture spoilt by the loss was shown";
    EXPECT_GE(call.requests(), loss + 1);
    for (int i = 0; i < 5; ++i)
      frame(false);
  }
  // However often the partner asks, the sender answers once in 200 ms.
  EXPECT_EQ(call.AskForKeyFrames(10), 1);
}

}  // namespace
