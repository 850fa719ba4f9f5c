// The manager made directly, with the fake control object handed in (or no
// library), fake or real codecs, the virtual camera and a clock the test sets.
#include "manager/video_conf_manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/device_selection.h"
#include "common/debug_log.h"
#include "plat/gdi.h"
#include "protocol/video_packet_reader.h"
#include "support/failing_allocator.h"
#include "support/fake_codec.h"
#include "support/fake_ksn_control.h"
#include "support/host_window.h"
#include "support/log_lines.h"
#include "support/manual_clock.h"
#include "support/pump.h"
#include "support/temp_dir.h"
#include "support/video_packet.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kalo::video::IVideoConfObserver;
using kalo::video::VideoConfManager;
using Calls = std::vector<std::string>;

// Writes "<name> ready <cid>", "<name> close <reason> <cid>" into a shared list.
struct Observer final : IVideoConfObserver {
  Observer(std::string name, Calls* heard) : name(std::move(name)), heard(heard) {}
  void OnSessionReady(const std::string& cid) override {
    heard->push_back(name + " ready " + cid);
    on_ready(cid);
  }
  void OnSessionClose(std::int32_t reason, const std::string& cid) override {
    heard->push_back(name + " close " + std::to_string(reason) + " " + cid);
    on_close(cid);
  }
  std::string name;
  Calls* heard;
  std::function<void(const std::string&)> on_ready = [](const std::string&) {};
  std::function<void(const std::string&)> on_close = [](const std::string&) {};
};

class VideoConfManagerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    manager_.reset();
    COMM::g_debug_log.set_level(0);
  }
  // Without the control object, the library is named by a path holding none.
  void Make(bool with_control = true, const fs::path& log_dir = {}) {
    manager_.reset();
    kalo::video::VideoConfManagerSetup setup;
    setup.log_dir = (log_dir.empty() ? temp_.path() : log_dir).string();
    if (with_control)
      setup.ksn_control = COMM::RefPtr<KSNControl>(control_.get());
    else
      setup.ksn_library = (temp_.path() / "libKSNControlX.so").string();
    setup.session.codec_factory = vc_test::FakeCodecFactory(codecs_);
    setup.session.system_time = [this] { return now_ += 10000; };
    setup.encoder_factory = encoders_;
    if (clock_)
      setup.clock = clock_;
    manager_ = std::make_unique<VideoConfManager>(setup);
    control_->calls.clear();
    vc_test::TakeFirstFrameNotices();
  }
  // The log's messages since the last call, without their prefixes.
  Calls TakeLog() {
    return vc_test::ReadLogMessages(temp_.path() / "video_log.txt", read_, &read_);
  }
  Calls TakeCalls() { return std::exchange(control_->calls, {}); }
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

  vc_test::TempDir temp_;
  std::size_t read_ = 0;
  std::uint64_t now_ = 133500000000000000;
  COMM::RefPtr<vc_test::FakeKSNControl> control_ = vc_test::FakeKSNControl::Create();
  std::shared_ptr<vc_test::CodecJournal> codecs_ = std::make_shared<vc_test::CodecJournal>();
  kalo::video::CodecFactory encoders_ = vc_test::FakeCodecFactory(codecs_);
  std::shared_ptr<vc_test::ManualClock> clock_ = std::make_shared<vc_test::ManualClock>();
  std::unique_ptr<VideoConfManager> manager_;
  Calls heard_;
};

VIDEODATA::FrameInfo Info(const std::string& packet) {
  const auto reading = VIDEODATA::ReadWholePacket(packet.data(), packet.size());
  EXPECT_EQ(reading.kind, VIDEODATA::PacketKind::kVideo);
  EXPECT_EQ(reading.length, packet.size());
  return reading.video.info;
}

// Named by a path that holds none, the library is simply missing (the
// module-level test cannot arrange that): the manager starts, not ready, with
// its log (one of a million bytes emptied, one byte less kept) and its clock,
// which only ticks refresh.
TEST_F(VideoConfManagerTest, WithoutTheLibraryItStartsItsLogAndClockButIsNotReady) {
  vc_test::TempDir other;
  std::ofstream(other.path() / "video_log.txt", std::ios::binary) << std::string(999999, 'k');
  std::ofstream(temp_.path() / "video_log.txt", std::ios::binary) << std::string(1000000, 'e');
  Make(false, other.path());
  EXPECT_EQ(fs::file_size(other.path() / "video_log.txt"), 999999u);
  Make(false);
  EXPECT_EQ(COMM::g_debug_log.level(), 14u);
  EXPECT_FALSE(manager_->IsKSNReady());
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "c1", 0));
  EXPECT_EQ(TakeLog(), (Calls{"[VideoConfManager::OpenVideoSession] cid=c1",
                              "[VideoConfManager::OpenVideoSession] ksn not ready"}));
  const ClockStamp start = clock_->Now();
  EXPECT_EQ(manager_->clock(), start);
  clock_->Advance(1500ms);
  EXPECT_EQ(manager_->clock(), start);  // nobody pumped
  EXPECT_TRUE(vc_test::PumpUntil([&] { return manager_->clock() == clock_->Now(); }, 5s));
}

TEST_F(VideoConfManagerTest, AConferenceOpensConnectsShowsVideoAndIsClosedByTheLibrary) {
  Make();
  Observer a("A", &heard_);
  Observer b("B", &heard_);
  manager_->RegisterObserver(&a);
  manager_->RegisterObserver(&b);

  ASSERT_TRUE(manager_->OpenVideoSession(7, 8, "c1", 1));
  EXPECT_EQ(TakeCalls(), (Calls{"IsReady", "OpenSession c1 2 0"}));
  vc_test::HostWindow window(32, 32);
  manager_->AddSessionVideoWindow("c1", window.hwnd(), plat::CreateRectRgn(0, 0, 16, 32));

  control_->NotifyConnect("c1");
  EXPECT_EQ(heard_, (Calls{"A ready c1", "B ready c1"}));
  control_->Deliver("c1", vc_test::VideoPacket(1, 32, 32, 1, 10));
  const vc_test::Surface shown = vc_test::ReadSurface(window.hwnd());
  EXPECT_NE(shown.at(3, 3), 0u);
  EXPECT_EQ(shown.at(20, 3), 0u);  // outside the region handed over

  control_->NotifyClose("c1", 0, "peer gone");
  EXPECT_EQ(heard_, (Calls{"A ready c1", "B ready c1", "A close 6000 c1", "B close 6000 c1"}));
  EXPECT_EQ(manager_->FindSession("c1"), nullptr);
  EXPECT_EQ(TakeCalls(), (Calls{"Recv c1 32000", "Recv c1 32000", "CloseSession c1"}));
  EXPECT_EQ(codecs_->calls.back(), "destroy #1");

  // The id is free again.
  EXPECT_TRUE(manager_->OpenVideoSession(0, 0, "c1", 0));
}

// Each observer once, in registration order, also when one re-registers;
// an observer may change the list and close conferences from its callback.
TEST_F(VideoConfManagerTest, ObserversAreToldInOrderAndMayActFromTheirCallbacks) {
  Make();
  Observer a("A", &heard_);
  Observer b("B", &heard_);
  Observer c("C", &heard_);
  Observer d("D", &heard_);
  for (Observer* observer : {&a, &b, &a, static_cast<Observer*>(nullptr), &c})
    manager_->RegisterObserver(observer);
  manager_->UnregisterObserver(nullptr);
  ASSERT_TRUE(manager_->OpenVideoSession(0, 0, "c0", 0));
  control_->NotifyConnect("c0");
  EXPECT_EQ(heard_, (Calls{"A ready c0", "B ready c0", "C ready c0"}));
  manager_->UnregisterObserver(&a);
  manager_->RegisterObserver(&a);
  control_->NotifyClose("c0");
  EXPECT_EQ(Calls(heard_.begin() + 3, heard_.end()),
            (Calls{"B close 6000 c0", "C close 6000 c0", "A close 6000 c0"}));
  heard_.clear();

  // Now B, C, A.
  ASSERT_TRUE(manager_->OpenVideoSession(0, 0, "c1", 0));
  ASSERT_TRUE(manager_->OpenVideoSession(0, 0, "c2", 0));
  b.on_ready = [&](const std::string& cid) {
    manager_->UnregisterObserver(&c);
    manager_->RegisterObserver(&d);
    manager_->CloseVideoSession(cid);
    manager_->UnregisterObserver(&b);
  };
  a.on_close = [&](const std::string&) { manager_->CloseVideoSession("c2"); };
  control_->NotifyConnect("c1");
  // C was unregistered before its turn, D registered after the walk began.
  EXPECT_EQ(heard_, (Calls{"B ready c1", "A ready c1"}));
  EXPECT_EQ(manager_->FindSession("c1"), nullptr);
  control_->NotifyClose("c2");
  EXPECT_EQ(Calls(heard_.begin() + 2, heard_.end()), (Calls{"A close 6000 c2", "D close 6000 c2"}));
  EXPECT_EQ(manager_->FindSession("c2"), nullptr);
}

TEST_F(VideoConfManagerTest, ABrokenStreamClosesTheConferenceOnce) {
  Make();
  Observer a("A", &heard_);
  manager_->RegisterObserver(&a);
  ASSERT_TRUE(manager_->OpenVideoSession(0, 0, "c1", 0));
  const COMM::RefPtr<KSN::ksnNotify> sink(control_->sink("c1"));
  // The library answers the close at once with its own close notice.
  control_->inside = [&](const std::string& call, const std::string& handle) {
    if (call == "CloseSession")
      sink->notifyClose(0, "closing", handle);
  };
  control_->Deliver("c1", std::string("\x05\0\0\0\x07\0\0\0\0", 9));
  EXPECT_EQ(heard_, (Calls{"A close 6000 c1"}));
  EXPECT_EQ(manager_->FindSession("c1"), nullptr);
  control_->Deliver("c1", std::string(9, '\0'));
  EXPECT_EQ(heard_.size(), 1u);
}

// A kind other than 0 or 1 is refused before the library is asked; a start
// the library refuses leaves the id open until it is closed.
TEST_F(VideoConfManagerTest, OpenVideoSessionRefusesWhatCannotBeOpened) {
  Make();
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "c1", 2));
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "", 0));
  control_->ready = false;
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "c1", 0));
  control_->ready = true;
  ASSERT_TRUE(manager_->OpenVideoSession(0, 0, "c1", 0));
  const kalo::video::VideoConfSession* first = manager_->FindSession("c1");
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "c1", 1));
  EXPECT_EQ(manager_->FindSession("c1"), first);
  manager_->CloseVideoSession("nobody");
  manager_->CloseVideoSession("");
  EXPECT_EQ(TakeCalls(), (Calls{"IsReady", "IsReady", "IsReady", "OpenSession c1 2 0", "IsReady"}));

  control_->ThrowFrom("OpenSession", 1, "refused", 21);
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "c2", 0));
  EXPECT_NE(manager_->FindSession("c2"), nullptr);
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "c2", 0));
  manager_->CloseVideoSession("c2");
  EXPECT_TRUE(manager_->OpenVideoSession(0, 0, "c2", 0));
  EXPECT_EQ(TakeCalls(), (Calls{"IsReady", "OpenSession c2 2 0", "IsReady", "CloseSession c2",
                                "IsReady", "OpenSession c2 2 0"}));
}

TEST_F(VideoConfManagerTest, DestructionStopsEveryConferenceInKeyOrderWithoutTellingObservers) {
  Make();
  Observer a("A", &heard_);
  manager_->RegisterObserver(&a);
  ASSERT_TRUE(manager_->OpenVideoSession(0, 0, "b", 0));
  ASSERT_TRUE(manager_->OpenVideoSession(0, 0, "a", 0));
  control_->Deliver("a", vc_test::VideoPacket(1, 8, 8, 1, 10));
  // A library that reports each close at once changes nothing.
  control_->inside = [&](const std::string& call, const std::string& handle) {
    if (call == "CloseSession") {
      control_->NotifyClose(handle);
      control_->NotifyClose(handle == "a" ? "b" : "a");
    }
  };
  TakeCalls();
  manager_.reset();
  EXPECT_EQ(TakeCalls(),
            (Calls{"UnregisterObject video/VideoConfManager", "CloseSession a", "CloseSession b"}));
  EXPECT_TRUE(heard_.empty());
  EXPECT_EQ(codecs_->calls.back(), "destroy #1");
  EXPECT_EQ(control_->ref_count(), 1);
}

// Session windows go to their conference (with their region only when the id
// is known), the preview's to the preview set; an empty id names the preview.
TEST_F(VideoConfManagerTest, WindowsGoToTheirSetsAndRepaint) {
  Make();
  ASSERT_TRUE(manager_->OpenVideoSession(0, 0, "c1", 0));
  vc_test::HostWindow one(8, 8);
  vc_test::HostWindow two(8, 8);
  vc_test::HostWindow self(8, 8);
  manager_->AddSessionVideoWindow("c1", one.hwnd(), nullptr);
  manager_->AddSessionVideoWindow("c1", two.hwnd(), nullptr);
  manager_->AddSessionVideoWindow("nobody", two.hwnd(), plat::CreateRectRgn(0, 0, 1, 1));
  manager_->AddSelfVideoWindow(self.hwnd(), plat::CreateRectRgn(0, 0, 4, 4));
  manager_->AddSelfVideoWindow(self.hwnd(), nullptr);
  EXPECT_EQ(manager_->self_wnds()->window_count(), 1u);
  plat::HRGN probe = plat::CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(plat::GetWindowRgn(two.hwnd(), probe), plat::ERROR_REGION);
  ASSERT_NE(plat::GetWindowRgn(self.hwnd(), probe), plat::ERROR_REGION);
  EXPECT_TRUE(plat::PtInRegion(probe, 1, 1));
  EXPECT_FALSE(plat::PtInRegion(probe, 5, 5));
  plat::DeleteObject(probe);

  control_->Deliver("c1", vc_test::VideoPacket(1, 8, 8, 1, 10));
  manager_->RemoveSessionVideoWindow("c1", two.hwnd());
  manager_->RemoveSessionVideoWindow("nobody", one.hwnd());
  control_->Deliver("c1", vc_test::VideoPacket(0, 8, 8, 2, 10));
  const auto& windows = manager_->FindSession("c1")->windows();
  EXPECT_EQ(windows.attributes(one.hwnd())->frame_count, 2u);
  EXPECT_EQ(windows.attributes(two.hwnd()), nullptr);
  EXPECT_TRUE(manager_->RepaintVideoWindow("c1", one.hwnd()));
  EXPECT_FALSE(manager_->RepaintVideoWindow("nobody", one.hwnd()));
  EXPECT_TRUE(manager_->RepaintVideoWindow("", self.hwnd()));  // before its first frame
  manager_->RemoveSelfVideoWindow(self.hwnd());
  EXPECT_EQ(manager_->self_wnds()->window_count(), 0u);
}

// Camera, real encoder, two conferences, and a session that decodes and
// paints what was sent.
TEST_F(VideoConfManagerTest, CameraFramesAreShownSentToEveryConferenceAndDecoded) {
  // Named here, so that the codec library is bound for the sessions' weak
  // reference as well.
  encoders_ = [] { return std::unique_ptr<IVCodec>(IVCodec_Creater()); };
  clock_ = nullptr;
  Make();
  vc_test::HostWindow remote(88, 72);
  Open("b");
  Open("a");
  manager_->AddSessionVideoWindow("a", remote.hwnd(), 0);
  manager_->SetVideoCameraDriver(kVirtualCameraDriver);
  for (const bool super : {false, true}) {
    control_->sent.clear();
    ASSERT_TRUE(super ? manager_->SetToSuperVideo() : manager_->SetToNormalVideo());
    ASSERT_TRUE(vc_test::PumpUntil([&] { return control_->sent.size() >= 8; }, 10s));
    manager_->CloseVideo();
    const std::vector<std::string> sent = control_->sent;
    for (std::size_t i = 0; i < 8; i += 2) {
      EXPECT_EQ(sent[i], sent[i + 1]);  // "a" then "b", same bytes
      EXPECT_EQ(Info(sent[i]).width, super ? 352 : 176);
      EXPECT_EQ(Info(sent[i]).seq, Info(sent[0]).seq + i / 2);
      control_->Deliver("a", sent[i]);
    }
    EXPECT_FALSE(vc_test::ReadSurface(remote.hwnd()).all_zero());
  }
}

TEST_F(VideoConfManagerTest, ValveFailuresAndTheChosenStreamDecideWhatIsEncoded) {
  Make();
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
  const std::string where = "[VideoConfManager::EncodeAndSendFrame] ";
  if (vc_test::AllocationLimitWorks()) {
    vc_test::ScopedAllocationLimit limit(300000);
    EXPECT_FALSE(manager_->EncodeAndSendFrame(larger.frame()));
    EXPECT_EQ(TakeLog(), (Calls{where + "normal_bitstream_ allocate failed"}));
  }
  codecs_->fail_creates = 1;
  EXPECT_FALSE(manager_->EncodeAndSendFrame(smaller.frame()));
  codecs_->throw_encodes = 1;
  EXPECT_FALSE(manager_->EncodeAndSendFrame(frame));
  EXPECT_EQ(TakeLog(), (Calls{where + "normal_encoder_ create failed",
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

TEST_F(VideoConfManagerTest, ConsoleRepliesByteForByte) {
  Make();
  const std::string help =
      "log_level\r\nvideo_cap_driver\r\nvideo_opened\r\nvideo_type\r\nout_bw_valve\r\n"
      "session_list\r\n";
  EXPECT_STREQ(manager_->GetName(), "kalo.video.VideoConfManager");
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
  ASSERT_TRUE(manager_->ResumeVideo(0));  // a fresh valve resumes the normal mode
  EXPECT_EQ(manager_->Get("video_type"), "SMALL");
  EXPECT_EQ(manager_->Get("video_opened"), "true");
  EXPECT_EQ(manager_->Get("video_cap_driver"), "virtual video camera");
  ASSERT_TRUE(manager_->PauseVideo(0));
  EXPECT_EQ(manager_->Get("video_opened"), "false");
  ASSERT_TRUE(manager_->SetToSuperVideo());
  EXPECT_EQ(manager_->Get("video_type"), "NORMAL");
  EXPECT_EQ(manager_->Get("out_bw_valve"), "15");
  ASSERT_TRUE(manager_->PauseVideo(0));
  ASSERT_TRUE(manager_->ResumeVideo(0));  // the valve remembers super
  EXPECT_EQ(manager_->Get("video_type"), "NORMAL");
}

}  // namespace
