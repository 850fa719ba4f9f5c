// Video flows through the manager: the virtual camera, the encoders and the
// fake peer network in one process, and the console that reports on them.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "capture/device_selection.h"
#include "common/debug_log.h"
#include "manager/video_conf_manager.h"
#include "protocol/video_packet_reader.h"
#include "support/failing_allocator.h"
#include "support/fake_codec.h"
#include "support/fake_ksn_control.h"
#include "support/host_window.h"
#include "support/log_lines.h"
#include "support/manual_clock.h"
#include "support/pump.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using kalo::video::VideoConfManager;
using Calls = std::vector<std::string>;

class VideoFlowsTest : public ::testing::Test {
 protected:
  void Make(kalo::video::CodecFactory encoders,
            std::shared_ptr<COMM::Clock> clock = COMM::RealClock()) {
    kalo::video::VideoConfManagerSetup setup;
    setup.clock = std::move(clock);
    setup.log_dir = temp_.path().string();
    setup.ksn_control = COMM::RefPtr<KSNControl>(control_.get());
    setup.encoder_factory = std::move(encoders);
    manager_ = std::make_unique<VideoConfManager>(setup);
  }
  void TearDown() override {
    manager_.reset();
    COMM::g_debug_log.set_level(0);
  }
  void Open(const std::string& cid) {
    ASSERT_TRUE(manager_->OpenVideoSession(0, 0, cid, 0));
    control_->connected.insert(cid);
  }
  // Picks the mode on the virtual camera, then stops it and lets the sending
  // window of the last second run out on the test's clock.
  void ChooseMode(bool super) {
    manager_->SetVideoCameraDriver(kVirtualCameraDriver);
    ASSERT_TRUE(super ? manager_->SetToSuperVideo() : manager_->SetToNormalVideo());
    manager_->CloseVideo();
    vc_test::PumpFor(100ms);
    clock_->Advance(1100ms);
    ASSERT_TRUE(vc_test::PumpUntil([&] { return manager_->clock() == clock_->Now(); }, 5s));
    control_->sent.clear();
  }
  Calls TakeLog() {
    return vc_test::ReadLogMessages(temp_.path() / "video_log.txt", read_, &read_);
  }

  vc_test::TempDir temp_;
  std::size_t read_ = 0;
  COMM::RefPtr<vc_test::FakeKSNControl> control_ = vc_test::FakeKSNControl::Create();
  std::shared_ptr<vc_test::CodecJournal> codecs_ = std::make_shared<vc_test::CodecJournal>();
  std::shared_ptr<vc_test::ManualClock> clock_ = std::make_shared<vc_test::ManualClock>();
  std::unique_ptr<VideoConfManager> manager_;
};

VIDEODATA::FrameInfo Info(const std::string& packet) {
  const auto reading = VIDEODATA::ReadWholePacket(packet.data(), packet.size());
  EXPECT_EQ(reading.kind, VIDEODATA::PacketKind::kVideo);
  EXPECT_EQ(reading.length, packet.size());
  return reading.video.info;
}

// Camera, preview, real encoder, two conferences, and a session that decodes
// and paints what was sent.
TEST_F(VideoFlowsTest, CameraFramesAreShownSentToEveryConferenceAndDecoded) {
  // Named here, so that the codec library is bound for the sessions' weak
  // reference as well.
  Make([] { return std::unique_ptr<IVCodec>(IVCodec_Creater()); });
  vc_test::HostWindow preview(88, 72);
  vc_test::HostWindow remote(88, 72);
  manager_->AddSelfVideoWindow(preview.hwnd(), 0);
  Open("b");
  Open("a");
  manager_->AddSessionVideoWindow("a", remote.hwnd(), 0);
  manager_->SetVideoCameraDriver(kVirtualCameraDriver);
  for (const bool super : {false, true}) {
    control_->sent.clear();
    ASSERT_TRUE(super ? manager_->SetToSuperVideo() : manager_->SetToNormalVideo());
    vc_test::PumpUntil([&] { return control_->sent.size() >= 8; }, 10s);
    manager_->CloseVideo();
    ASSERT_GE(control_->sent.size(), 8u);
    EXPECT_FALSE(vc_test::ReadSurface(preview.hwnd()).all_zero());
    const std::uint32_t first_seq = Info(control_->sent[0]).seq;
    for (std::size_t i = 0; i < 8; i += 2) {
      EXPECT_EQ(control_->sent[i], control_->sent[i + 1]);  // "a" then "b", same bytes
      const VIDEODATA::FrameInfo info = Info(control_->sent[i]);
      EXPECT_EQ(info.width, super ? 352 : 176);
      EXPECT_EQ(info.height, super ? 288 : 144);
      EXPECT_EQ(info.seq, first_seq + i / 2);
    }
    for (std::size_t i = 0; i < 8; i += 2)
      control_->Deliver("a", control_->sent[i]);
    EXPECT_FALSE(vc_test::ReadSurface(remote.hwnd()).all_zero());
  }
}

TEST_F(VideoFlowsTest, ValveFailuresAndTheChosenStreamDecideWhatIsEncoded) {
  Make(vc_test::FakeCodecFactory(codecs_), clock_);
  vc_test::HostWindow preview(88, 72);
  manager_->AddSelfVideoWindow(preview.hwnd(), 0);
  vc_test::Picture picture(352, 288, 1);
  VideoFrame frame = picture.frame();
  EXPECT_FALSE(manager_->OnFrame(&frame));  // no conference
  Open("a");
  EXPECT_TRUE(manager_->OnFrame(&frame));  // no stream chosen yet
  EXPECT_EQ(codecs_->made, 0);

  ChooseMode(true);
  TakeLog();
  // Each new size needs a new buffer and a new encoder.
  vc_test::Picture larger(320, 240, 2);
  vc_test::Picture smaller(176, 144, 3);
  {
    vc_test::ScopedAllocationLimit limit(300000);
    EXPECT_FALSE(manager_->EncodeAndSendFrame(larger.frame()));
  }
  codecs_->fail_creates = 1;
  EXPECT_FALSE(manager_->EncodeAndSendFrame(smaller.frame()));
  codecs_->throw_encodes = 1;
  EXPECT_FALSE(manager_->EncodeAndSendFrame(frame));
  const std::string where = "[VideoConfManager::EncodeAndSendFrame] ";
  EXPECT_EQ(TakeLog(), (Calls{where + "normal_bitstream_ allocate failed",
                              where + "normal_encoder_ create failed",
                              where + "normal encode exception: fake encode failure"}));
  EXPECT_TRUE(control_->sent.empty());

  // Within one 100 ms slot of the test's clock, the super valve lets 15 of
  // 30 through, each shown, each an empty payload.
  const std::uint64_t shown = manager_->self_wnds()->attributes(preview.hwnd())->frame_count;
  for (int i = 0; i < 30; ++i)
    manager_->OnFrame(&frame);
  EXPECT_EQ(control_->sent.size(), 15u);
  EXPECT_EQ(Info(control_->sent.back()).width, 352);
  EXPECT_EQ(manager_->self_wnds()->attributes(preview.hwnd())->frame_count, shown + 30);

  ChooseMode(false);
  for (int i = 0; i < 30; ++i)
    manager_->OnFrame(&frame);
  EXPECT_EQ(control_->sent.size(), 20u);
  EXPECT_EQ(Info(control_->sent.back()).width, 176);
}

TEST_F(VideoFlowsTest, ConsoleRepliesByteForByte) {
  Make(vc_test::FakeCodecFactory(codecs_));
  const std::string help =
      "log_level\r\nvideo_cap_driver\r\nvideo_opened\r\nvideo_type\r\nout_bw_valve\r\n"
      "session_list\r\n";
  EXPECT_STREQ(manager_->GetName(), "kalo.video.VideoConfManager");
  ASSERT_EQ(help.size(), 83u);
  // clang-format off
  const std::vector<std::pair<std::string, std::string>> fresh = {
      {"help", help}, {".help", help}, {":x.help", help}, {"me.help", ""}, {"%%.help", ""},
      {".log_level", ""}, {"video_type", "INVALID"}, {"out_bw_valve", "100"}, {"nothing", ""},
      {"video_opened", "false"}, {"video_cap_driver", ""}, {"log_level", "14"},
      {"session_list", "session_num: 0\r\n\r\n"}};
  // clang-format on
  for (const auto& [key, reply] : fresh)
    EXPECT_EQ(manager_->Get(key.c_str()), reply) << key;

  manager_->Set("log_level", "6");
  manager_->Set("log_level", "");
  manager_->Set("log_level", "x7");
  manager_->Set(".log_level", "9");
  EXPECT_EQ(manager_->Get("log_level"), "6");

  Open("b");
  Open("a");
  EXPECT_EQ(manager_->Get("session_list"), "session_num: 2\r\n\r\n<ksnhandle>:\r\na\r\nb\r\n");
  manager_->SetVideoCameraDriver(kVirtualCameraDriver);
  ASSERT_TRUE(manager_->SetToNormalVideo());
  EXPECT_EQ(manager_->Get("video_type"), "SMALL");
  EXPECT_EQ(manager_->Get("video_opened"), "true");
  EXPECT_EQ(manager_->Get("video_cap_driver"), "virtual video camera");
  ASSERT_TRUE(manager_->PauseVideo(0));
  ASSERT_TRUE(manager_->SetToSuperVideo());
  EXPECT_EQ(manager_->Get("video_type"), "NORMAL");
  EXPECT_EQ(manager_->Get("out_bw_valve"), "15");
  ASSERT_TRUE(manager_->PauseVideo(0));
  ASSERT_TRUE(manager_->ResumeVideo(0));  // the valve remembers super
  EXPECT_EQ(manager_->Get("video_type"), "NORMAL");
}

}  // namespace
