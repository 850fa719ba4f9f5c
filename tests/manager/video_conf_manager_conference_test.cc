// The manager's conference, observer, window and camera operations, with a
// fake control object handed in instead of the peer-network library.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/debug_log.h"
#include "support/fake_codec.h"
#include "support/fake_ksn_control.h"
#include "support/host_window.h"
#include "manager/video_conf_manager.h"
#include "plat/gdi.h"
#include "support/temp_dir.h"
#include "support/pump.h"
#include "support/video_packet.h"
#include "support/log_lines.h"

namespace {

namespace fs = std::filesystem;
using vc_test::HostWindow;
using vc_test::ReadSurface;
using kalo::video::IVideoConfObserver;
using kalo::video::VideoConfManager;
using kalo::video::VideoConfManagerSetup;
using vc_test::CodecJournal;
using vc_test::FakeKSNControl;
using Calls = std::vector<std::string>;

// A frame with a 10-byte payload of `tag`, which the fake codec paints.
std::string VideoPacket(std::uint8_t key, std::uint16_t width, std::uint16_t height,
                        std::uint8_t tag) {
  return vc_test::VideoPacket(key, width, height, tag, 10);
}

// Writes down what it hears, "<name> ready <cid>" and "<name> close <reason>
// <cid>", into a list shared with other observers; may act from inside.
class Observer final : public IVideoConfObserver {
 public:
  Observer(std::string name, Calls* heard) : name_(std::move(name)), heard_(heard) {}

  void OnSessionReady(const std::string& cid) override {
    heard_->push_back(name_ + " ready " + cid);
    if (on_ready)
      on_ready(cid);
  }
  void OnSessionClose(std::int32_t reason, const std::string& cid) override {
    heard_->push_back(name_ + " close " + std::to_string(reason) + " " + cid);
    if (on_close)
      on_close(cid);
  }

  std::function<void(const std::string&)> on_ready;
  std::function<void(const std::string&)> on_close;

 private:
  std::string name_;
  Calls* heard_;
};

class ManagerConferenceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    VideoConfManagerSetup setup;
    setup.log_dir = temp_.path().string();
    setup.ksn_control = COMM::RefPtr<KSNControl>(control_.get());
    setup.session.codec_factory = vc_test::FakeCodecFactory(codecs_);
    setup.session.system_time = [this] { return now_ += 10000; };
    manager_ = std::make_unique<VideoConfManager>(setup);
    control_->calls.clear();
    vc_test::TakeFirstFrameNotices();
  }
  void TearDown() override {
    manager_.reset();
    COMM::g_debug_log.set_level(0);
  }

  // The log's messages since the last call, without their prefixes.
  Calls TakeLog() { return vc_test::ReadLogMessages(temp_.path() / "video_log.txt", read_, &read_); }
  Calls TakeCalls() { return std::exchange(control_->calls, {}); }

  vc_test::TempDir temp_;
  std::size_t read_ = 0;
  std::uint64_t now_ = 133500000000000000;
  COMM::RefPtr<FakeKSNControl> control_ = FakeKSNControl::Create();
  std::shared_ptr<CodecJournal> codecs_ = std::make_shared<CodecJournal>();
  std::unique_ptr<VideoConfManager> manager_;
  Calls heard_;
};

// ---------------------------------------------------------------------------
// A conference's life

TEST_F(ManagerConferenceTest, AConferenceOpensConnectsShowsVideoAndIsClosedByTheLibrary) {
  Observer a("A", &heard_);
  Observer b("B", &heard_);
  manager_->RegisterObserver(&a);
  manager_->RegisterObserver(&b);

  ASSERT_TRUE(manager_->OpenVideoSession(7, 8, "c1", 1));
  EXPECT_EQ(TakeCalls(), (Calls{"IsReady", "OpenSession c1 2 0"}));
  HostWindow window(32, 32);
  manager_->AddSessionVideoWindow("c1", window.hwnd(), plat::CreateRectRgn(0, 0, 16, 32));

  control_->NotifyConnect("c1");
  EXPECT_EQ(heard_, (Calls{"A ready c1", "B ready c1"}));
  control_->Deliver("c1", VideoPacket(1, 32, 32, 1));
  const vc_test::Surface shown = ReadSurface(window.hwnd());
  EXPECT_NE(shown.at(3, 3), 0u);
  EXPECT_EQ(shown.at(20, 3), 0u);  // outside the region handed over

  control_->NotifyClose("c1", 0, "peer gone");
  EXPECT_EQ(heard_, (Calls{"A ready c1", "B ready c1", "A close 6000 c1", "B close 6000 c1"}));
  EXPECT_EQ(manager_->FindSession("c1"), nullptr);
  EXPECT_EQ(TakeCalls(), (Calls{"Recv c1 32000", "Recv c1 32000", "CloseSession c1"}));
  EXPECT_EQ(codecs_->calls.back(), "destroy #1");
  EXPECT_EQ(TakeLog(), (Calls{"[VideoConfManager::OpenVideoSession] cid=c1",
                              "[VideoConfManager::AddSessionVideoWindow] cid=c1",
                              "[VideoConfManager::OnKSNSessionReady] cid=c1",
                              "[VideoConfSession::notifyClose] h=c1, err=peer gone",
                              "[VideoConfManager::OnKSNSessionClose] cid=c1",
                              "[VideoConfManager::CloseVideoSession] cid=c1"}));

  // The id is free again.
  EXPECT_TRUE(manager_->OpenVideoSession(0, 0, "c1", 0));
}

TEST_F(ManagerConferenceTest, ObserversAreToldOnceEachInRegistrationOrder) {
  Observer a("A", &heard_);
  Observer b("B", &heard_);
  Observer c("C", &heard_);
  manager_->RegisterObserver(&a);
  manager_->RegisterObserver(&b);
  manager_->RegisterObserver(&a);
  manager_->RegisterObserver(nullptr);
  manager_->RegisterObserver(&c);
  manager_->UnregisterObserver(nullptr);
  ASSERT_TRUE(manager_->OpenVideoSession(0, 0, "c1", 0));
  control_->NotifyConnect("c1");
  EXPECT_EQ(heard_, (Calls{"A ready c1", "B ready c1", "C ready c1"}));

  manager_->UnregisterObserver(&a);
  manager_->UnregisterObserver(&a);
  manager_->RegisterObserver(&a);
  control_->NotifyClose("c1");
  EXPECT_EQ(std::vector<std::string>(heard_.begin() + 3, heard_.end()),
            (Calls{"B close 6000 c1", "C close 6000 c1", "A close 6000 c1"}));
}

TEST_F(ManagerConferenceTest, ObserversMayChangeTheListAndCloseConferencesFromTheirCallbacks) {
  Observer a("A", &heard_);
  Observer b("B", &heard_);
  Observer c("C", &heard_);
  Observer d("D", &heard_);
  manager_->RegisterObserver(&a);
  manager_->RegisterObserver(&b);
  manager_->RegisterObserver(&c);
  ASSERT_TRUE(manager_->OpenVideoSession(0, 0, "c1", 0));
  ASSERT_TRUE(manager_->OpenVideoSession(0, 0, "c2", 0));
  a.on_ready = [&](const std::string& cid) {
    manager_->UnregisterObserver(&b);
    manager_->RegisterObserver(&d);
    manager_->CloseVideoSession(cid);
    manager_->UnregisterObserver(&a);
  };
  c.on_close = [&](const std::string&) { manager_->CloseVideoSession("c2"); };

  control_->NotifyConnect("c1");
  // B was unregistered before its turn, D registered after the walk began.
  EXPECT_EQ(heard_, (Calls{"A ready c1", "C ready c1"}));
  EXPECT_EQ(manager_->FindSession("c1"), nullptr);

  control_->NotifyClose("c2");
  EXPECT_EQ(std::vector<std::string>(heard_.begin() + 2, heard_.end()),
            (Calls{"C close 6000 c2", "D close 6000 c2"}));
  EXPECT_EQ(manager_->FindSession("c2"), nullptr);
}

TEST_F(ManagerConferenceTest, ABrokenStreamClosesTheConferenceOnce) {
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

// ---------------------------------------------------------------------------
// Opening and closing

TEST_F(ManagerConferenceTest, OpenVideoSessionRefusesWhatCannotBeOpened) {
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "c1", 2));
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "", 0));
  control_->ready = false;
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "c1", 0));
  control_->ready = true;
  ASSERT_TRUE(manager_->OpenVideoSession(0, 0, "c1", 0));
  const kalo::video::VideoConfSession* first = manager_->FindSession("c1");
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "c1", 1));
  EXPECT_EQ(manager_->FindSession("c1"), first);
  EXPECT_EQ(TakeCalls(), (Calls{"IsReady", "IsReady", "IsReady", "OpenSession c1 2 0", "IsReady"}));
  EXPECT_EQ(TakeLog(), (Calls{"[VideoConfManager::OpenVideoSession] cid=c1",
                              "[VideoConfManager::OpenVideoSession] cid=",
                              "[VideoConfManager::OpenVideoSession] cid=c1",
                              "[VideoConfManager::OpenVideoSession] ksn not ready",
                              "[VideoConfManager::OpenVideoSession] cid=c1",
                              "[VideoConfManager::OpenVideoSession] cid=c1"}));
}

TEST_F(ManagerConferenceTest, ARefusedStartKeepsTheIdOpenUntilItIsClosed) {
  control_->ThrowFrom("OpenSession", 1, "refused", 21);
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "c1", 0));
  EXPECT_NE(manager_->FindSession("c1"), nullptr);
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "c1", 0));
  manager_->CloseVideoSession("c1");
  EXPECT_TRUE(manager_->OpenVideoSession(0, 0, "c1", 0));
  EXPECT_EQ(TakeCalls(), (Calls{"IsReady", "OpenSession c1 2 0", "IsReady", "CloseSession c1",
                                "IsReady", "OpenSession c1 2 0"}));
  const Calls log = TakeLog();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[1], "[VideoConfSession::Start] exception: refused, error_code=21, h=c1");
}

TEST_F(ManagerConferenceTest, ClosingAnUnknownOrEmptyIdOnlyLogs) {
  Observer a("A", &heard_);
  manager_->RegisterObserver(&a);
  manager_->CloseVideoSession("nobody");
  manager_->CloseVideoSession("");
  EXPECT_TRUE(TakeCalls().empty());
  EXPECT_TRUE(heard_.empty());
  EXPECT_EQ(TakeLog(), (Calls{"[VideoConfManager::CloseVideoSession] cid=nobody",
                              "[VideoConfManager::CloseVideoSession] cid="}));
}

TEST_F(ManagerConferenceTest, DestructionStopsEveryConferenceInKeyOrderWithoutTellingObservers) {
  Observer a("A", &heard_);
  manager_->RegisterObserver(&a);
  ASSERT_TRUE(manager_->OpenVideoSession(0, 0, "b", 0));
  ASSERT_TRUE(manager_->OpenVideoSession(0, 0, "a", 0));
  control_->Deliver("a", VideoPacket(1, 8, 8, 1));
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

// ---------------------------------------------------------------------------
// Windows

TEST_F(ManagerConferenceTest, SessionWindowsComeAndGoAndRepaint) {
  ASSERT_TRUE(manager_->OpenVideoSession(0, 0, "c1", 0));
  HostWindow one(8, 8);
  HostWindow two(8, 8);
  manager_->AddSessionVideoWindow("c1", one.hwnd(), nullptr);
  manager_->AddSessionVideoWindow("c1", two.hwnd(), nullptr);
  manager_->AddSessionVideoWindow("nobody", two.hwnd(), plat::CreateRectRgn(0, 0, 1, 1));
  plat::HRGN probe = plat::CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(plat::GetWindowRgn(two.hwnd(), probe), plat::ERROR_REGION);
  plat::DeleteObject(probe);

  control_->Deliver("c1", VideoPacket(1, 8, 8, 1));
  manager_->RemoveSessionVideoWindow("c1", two.hwnd());
  manager_->RemoveSessionVideoWindow("nobody", one.hwnd());
  control_->Deliver("c1", VideoPacket(0, 8, 8, 2));
  const auto& windows = manager_->FindSession("c1")->windows();
  EXPECT_EQ(windows.attributes(one.hwnd())->frame_count, 2u);
  EXPECT_EQ(windows.attributes(two.hwnd()), nullptr);

  EXPECT_TRUE(manager_->RepaintVideoWindow("c1", 0));
  EXPECT_TRUE(manager_->RepaintVideoWindow("c1", one.hwnd()));
  EXPECT_FALSE(manager_->RepaintVideoWindow("nobody", one.hwnd()));
  EXPECT_EQ(TakeLog(), (Calls{"[VideoConfManager::OpenVideoSession] cid=c1",
                              "[VideoConfManager::AddSessionVideoWindow] cid=c1",
                              "[VideoConfManager::AddSessionVideoWindow] cid=c1",
                              "[VideoConfManager::AddSessionVideoWindow] cid=nobody",
                              "[VideoConfManager::RemoveSessionVideoWindow] cid=c1",
                              "[VideoConfManager::RemoveSessionVideoWindow] cid=nobody"}));
}

TEST_F(ManagerConferenceTest, SelfWindowsGoToThePreviewSet) {
  HostWindow window(8, 8);
  manager_->AddSelfVideoWindow(window.hwnd(), plat::CreateRectRgn(0, 0, 4, 4));
  manager_->AddSelfVideoWindow(window.hwnd(), nullptr);
  ASSERT_NE(manager_->self_wnds(), nullptr);
  EXPECT_EQ(manager_->self_wnds()->window_count(), 1u);
  plat::HRGN probe = plat::CreateRectRgn(0, 0, 0, 0);
  EXPECT_NE(plat::GetWindowRgn(window.hwnd(), probe), plat::ERROR_REGION);
  EXPECT_TRUE(plat::PtInRegion(probe, 1, 1));
  EXPECT_FALSE(plat::PtInRegion(probe, 5, 5));
  plat::DeleteObject(probe);
  // An empty id names the preview, which answers even before its first frame.
  EXPECT_TRUE(manager_->RepaintVideoWindow("", window.hwnd()));
  manager_->RemoveSelfVideoWindow(window.hwnd());
  EXPECT_EQ(manager_->self_wnds()->window_count(), 0u);
  EXPECT_EQ(TakeLog(), (Calls{"[VideoConfManager::AddSelfVideoWindow]",
                              "[VideoConfManager::AddSelfVideoWindow]",
                              "[VideoConfManager::RemoveSelfVideoWindow]"}));
}

}  // namespace
