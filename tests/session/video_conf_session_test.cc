#include "session/video_conf_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/debug_log.h"
#include "support/fake_codec.h"
#include "support/fake_ksn_control.h"
#include "support/failing_allocator.h"
#include "support/host_window.h"
#include "support/log_lines.h"
#include "support/video_packet.h"
#include "protocol/video_packet_builder.h"

namespace {

namespace fs = std::filesystem;
using vc_test::ExpectShows;
using vc_test::HostWindow;
using vc_test::Picture;
using vc_test::TakeFirstFrameNotices;
using kalo::video::VideoConfSession;
using kalo::video::VideoConfSessionSetup;
using vc_test::CodecJournal;
using vc_test::FakeKSNControl;
using Calls = std::vector<std::string>;
using SessionRef = COMM::RefPtr<VideoConfSession>;

// Some moment in 2024, in 100 ns units since 1601.
constexpr std::uint64_t kNow = 133500000000000000;

using vc_test::VideoPacket;

std::string Le32(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}

// A header whose length can never be a packet.
const std::string kBadHeader = Le32(3) + Le32(7) + std::string(1, '\0');

// Stands for the manager: keeps the sessions in a table and, told of a close,
// stops the session and drops it from the table, as the manager does.
class FakeManager final : public kalo::video::ISessionEvents {
 public:
  void OnKSNSessionReady(const std::string& cid) override { events.push_back("ready " + cid); }
  void OnKSNSessionClose(const std::string& cid) override {
    events.push_back("close " + cid);
    if (on_close)
      on_close(cid);
    const auto it = table.find(cid);
    if (!close_removes || it == table.end())
      return;
    const SessionRef held = it->second;
    const std::string key = it->first;
    held->Stop();
    table.erase(key);
    if (after_close)
      after_close(cid);
  }

  Calls events;
  std::map<std::string, SessionRef> table;
  bool close_removes = true;
  std::function<void(const std::string&)> on_close;     // before the removal
  std::function<void(const std::string&)> after_close;  // after it
};

class SessionTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vc_session_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    COMM::g_debug_log.set_dir(dir_.c_str());
    COMM::g_debug_log.set_name("video_log");
    COMM::g_debug_log.set_level(14);
    TakeFirstFrameNotices();
    setup_.codec_factory = vc_test::FakeCodecFactory(codecs_);
    setup_.system_time = [this] {
      const std::uint64_t t = now_;
      now_ += step_;
      return t;
    };
  }
  void TearDown() override {
    manager_.table.clear();
    COMM::g_debug_log.set_level(0);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  // A started conference in the manager's table; the table holds the only
  // reference.
  VideoConfSession* Open(const std::string& cid) {
    SessionRef session = VideoConfSession::Create(&manager_, Control(), cid, 0, setup_);
    EXPECT_TRUE(session);
    VideoConfSession* raw = session.get();
    manager_.table.emplace(cid, std::move(session));
    EXPECT_TRUE(raw->Start());
    return raw;
  }

  COMM::RefPtr<KSNControl> Control() const { return COMM::RefPtr<KSNControl>(control_.get()); }

  // The log's messages, without their prefixes.
  Calls Log() const { return vc_test::ReadLogMessages(fs::path(dir_) / "video_log.txt"); }
  std::string RawLog() const {
    std::ifstream in(fs::path(dir_) / "video_log.txt", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // The codec calls, forgotten once read.
  Calls TakeCodecCalls() { return std::exchange(codecs_->calls, {}); }

  std::string dir_;
  std::uint64_t now_ = kNow;
  std::uint64_t step_ = 10000;  // 1 ms between two readings of the clock
  std::shared_ptr<CodecJournal> codecs_ = std::make_shared<CodecJournal>();
  VideoConfSessionSetup setup_;
  COMM::RefPtr<FakeKSNControl> control_ = FakeKSNControl::Create();
  FakeManager manager_;
};

std::uint64_t Painted(const VideoConfSession* session, plat::HWND window) {
  const auto* attributes = session->windows().attributes(window);
  return attributes == nullptr ? 0 : attributes->frame_count;
}

// ---------------------------------------------------------------------------
// Opening and connecting

TEST_F(SessionTest, StartOpensTheNetworkSessionWithASinkThatForwardsToTheSession) {
  VideoConfSession* session = Open("c1");
  EXPECT_EQ(control_->calls, (Calls{"OpenSession c1 2 0"}));
  ASSERT_NE(session->agent(), nullptr);
  EXPECT_EQ(control_->sink("c1"), session->agent());
  EXPECT_EQ(control_->sink_count("c1"), 2);  // the library's and the session's

  // The handle the library names is not compared: the session reports its own.
  control_->sink("c1")->notifyConnect(0, "ok", "whatever");
  EXPECT_EQ(manager_.events, (Calls{"ready c1"}));
  EXPECT_TRUE(Log().empty());
}

TEST_F(SessionTest, FailedConnectIsOnlyLogged) {
  Open("c1");
  control_->NotifyConnect("c1", 5, "refused");
  control_->sink("c1")->notifyConnect(6, nullptr, "c1");
  EXPECT_TRUE(manager_.events.empty());
  EXPECT_EQ(Log(), (Calls{"[VideoConfSession::notifyConnect] h=c1, err=refused",
                          "[VideoConfSession::notifyConnect] h=c1, err="}));
}

TEST_F(SessionTest, OpenSessionThatThrowsFailsTheStart) {
  control_->ThrowFrom("OpenSession", 1, "no route", 12);
  SessionRef session = VideoConfSession::Create(&manager_, Control(), "c1", 1, setup_);
  EXPECT_FALSE(session->Start());
  EXPECT_EQ(Log(), (Calls{"[VideoConfSession::Start] exception: no route, error_code=12, h=c1"}));
}

TEST_F(SessionTest, ASecondStartSilencesTheFirstSink) {
  VideoConfSession* session = Open("c1");
  const COMM::RefPtr<KSN::ksnNotify> first(control_->sink("c1"));
  ASSERT_TRUE(session->Start());
  EXPECT_NE(control_->sink("c1"), first.get());
  first->notifyConnect(0, "ok", "c1");
  EXPECT_TRUE(manager_.events.empty());
  control_->NotifyConnect("c1");
  EXPECT_EQ(manager_.events, (Calls{"ready c1"}));
}

// ---------------------------------------------------------------------------
// Receiving and painting

// Each delivery plan: the largest piece a Recv hands out.
class SessionSplitTest : public SessionTest, public testing::WithParamInterface<std::size_t> {};

TEST_P(SessionSplitTest, PacketsInAnySplitArePaintedRightWayUpIntoEveryWindow) {
  VideoConfSession* session = Open("c1");
  HostWindow same(176, 144);
  HostWindow larger(352, 288);
  session->AddWindow(same.hwnd());
  session->AddWindow(larger.hwnd());

  const std::string stream = VideoPacket(1, 176, 144, 1, 300) + VideoPacket(0, 176, 144, 2, 40) +
                             VideoPacket(0, 176, 144, 3, 7);
  // Each delivery is a few bytes more; a split packet waits for its end.
  const std::size_t piece = GetParam();
  for (std::size_t at = 0; at < stream.size(); at += 3 * piece)
    control_->Deliver("c1", std::string_view(stream).substr(at, 3 * piece), piece);
  EXPECT_EQ(control_->queued("c1"), 0u);

  EXPECT_EQ(Painted(session, same.hwnd()), 3u);
  EXPECT_EQ(Painted(session, larger.hwnd()), 3u);
  EXPECT_EQ(TakeFirstFrameNotices(), (std::vector<plat::HWND>{same.hwnd(), larger.hwnd()}));
  ExpectShows(same.hwnd(), Picture(176, 144, 3), 176, 144);
  ExpectShows(larger.hwnd(), Picture(176, 144, 3), 352, 288);
  EXPECT_EQ(TakeCodecCalls(), (Calls{"create #1", "open #1 176x144 20 49000 32", "decode #1 300",
                                     "check #1 176x144 20 49000 32", "decode #1 40",
                                     "check #1 176x144 20 49000 32", "decode #1 7"}));
  EXPECT_TRUE(Log().empty());
}

INSTANTIATE_TEST_SUITE_P(Pieces, SessionSplitTest, testing::Values(1, 2, 9, 37, 136, 32000));

TEST_F(SessionTest, ADeliveryIsDrainedIn32000ByteReads) {
  Open("c1");
  std::string stream;
  for (std::uint8_t tag = 1; stream.size() < 70000; ++tag)
    stream += VideoPacket(1, 16, 16, tag, 1000);
  control_->Deliver("c1", stream);
  const std::size_t reads = (stream.size() + 31999) / 32000 + 1;  // the last one finds nothing
  EXPECT_EQ(control_->calls.size(), 1 + reads);
  for (std::size_t i = 1; i < control_->calls.size(); ++i)
    EXPECT_EQ(control_->calls[i], "Recv c1 32000");
  EXPECT_EQ(control_->queued("c1"), 0u);
}

TEST_F(SessionTest, NotificationForAnotherHandleReadsNothing) {
  Open("c1");
  control_->Queue("c1", VideoPacket(1, 16, 16, 1));
  control_->sink("c1")->notifyRecv("c2");
  EXPECT_EQ(control_->calls, (Calls{"OpenSession c1 2 0"}));
  EXPECT_GT(control_->queued("c1"), 0u);
}

TEST_F(SessionTest, OtherCommandsAndEmptyPicturesAreSkippedWhole) {
  VideoConfSession* session = Open("c1");
  HostWindow window(16, 16);
  session->AddWindow(window.hwnd());
  const std::string other = Le32(20) + Le32(5) + std::string(12, 'q');
  control_->Deliver("c1", other + VideoPacket(1, 0, 16, 1) + VideoPacket(1, 16, 16, 2));
  EXPECT_EQ(TakeCodecCalls(), (Calls{"create #1", "open #1 16x16 20 49000 32", "decode #1 24"}));
  EXPECT_EQ(Painted(session, window.hwnd()), 1u);
  ExpectShows(window.hwnd(), Picture(16, 16, 2), 16, 16);
}

TEST_F(SessionTest, FramesBeforeTheFirstKeyFrameAreDropped) {
  VideoConfSession* session = Open("c1");
  HostWindow window(16, 16);
  session->AddWindow(window.hwnd());
  control_->Deliver("c1", VideoPacket(0, 16, 16, 1) + VideoPacket(0, 16, 16, 2));
  EXPECT_TRUE(TakeCodecCalls().empty());
  EXPECT_EQ(Painted(session, window.hwnd()), 0u);

  // From the first key frame on, every frame is shown, key or not.
  control_->Deliver("c1", VideoPacket(1, 16, 16, 3));
  control_->Deliver("c1", VideoPacket(0, 16, 16, 4));
  EXPECT_EQ(Painted(session, window.hwnd()), 2u);
  ExpectShows(window.hwnd(), Picture(16, 16, 4), 16, 16);
}

// ---------------------------------------------------------------------------
// The 50-microsecond rule

TEST_F(SessionTest, AFrameWithin50MicrosecondsIsDroppedButItsPacketIsConsumed) {
  VideoConfSession* session = Open("c1");
  HostWindow window(16, 16);
  session->AddWindow(window.hwnd());
  step_ = 0;
  control_->Deliver("c1", VideoPacket(1, 16, 16, 1));
  now_ = kNow + 499;
  control_->Deliver("c1", VideoPacket(0, 16, 16, 2));
  EXPECT_EQ(Painted(session, window.hwnd()), 1u);
  now_ = kNow + 500;
  control_->Deliver("c1", VideoPacket(0, 16, 16, 3));
  EXPECT_EQ(Painted(session, window.hwnd()), 2u);
  ExpectShows(window.hwnd(), Picture(16, 16, 3), 16, 16);
  EXPECT_EQ(TakeCodecCalls(), (Calls{"create #1", "open #1 16x16 20 49000 32", "decode #1 24",
                                     "check #1 16x16 20 49000 32", "decode #1 24"}));
}

TEST_F(SessionTest, AfterTheClockIsSetBackFramesWaitUntilItPassesTheLastOneShown) {
  VideoConfSession* session = Open("c1");
  HostWindow window(16, 16);
  session->AddWindow(window.hwnd());
  step_ = 0;
  control_->Deliver("c1", VideoPacket(1, 16, 16, 1));
  for (const std::uint64_t t : {kNow - 36000000000, kNow - 1, kNow + 499}) {
    now_ = t;
    control_->Deliver("c1", VideoPacket(0, 16, 16, 2));
  }
  EXPECT_EQ(Painted(session, window.hwnd()), 1u);
  now_ = kNow + 500;
  control_->Deliver("c1", VideoPacket(0, 16, 16, 3));
  EXPECT_EQ(Painted(session, window.hwnd()), 2u);
}

// ---------------------------------------------------------------------------
// The decoder and its picture

TEST_F(SessionTest, ASizeChangeMakesANewPictureAndANewDecoderBeforeDecoding) {
  VideoConfSession* session = Open("c1");
  HostWindow window(320, 240);
  session->AddWindow(window.hwnd());
  control_->Deliver("c1", VideoPacket(1, 176, 144, 1));
  TakeCodecCalls();
  // The fake decoder fills the whole picture: a picture still of the old
  // size would be overrun.
  control_->Deliver("c1", VideoPacket(0, 640, 480, 2));
  EXPECT_EQ(TakeCodecCalls(), (Calls{"check #1 640x480 20 49000 32", "create #2", "destroy #1",
                                     "open #2 640x480 20 49000 32", "decode #2 24"}));
  ExpectShows(window.hwnd(), Picture(640, 480, 2), 320, 240);
}

TEST_F(SessionTest, ADecoderThatCallsAnotherSizeTheSameIsReplacedAnyway) {
  VideoConfSession* session = Open("c1");
  HostWindow window(64, 64);
  session->AddWindow(window.hwnd());
  codecs_->check_says_same = true;
  control_->Deliver("c1", VideoPacket(1, 16, 16, 1));
  control_->Deliver("c1", VideoPacket(0, 64, 64, 2));
  EXPECT_EQ(codecs_->made, 2);
  ExpectShows(window.hwnd(), Picture(64, 64, 2), 64, 64);
}

TEST_F(SessionTest, AFactoryThatFailsOnceCostsOneFrame) {
  VideoConfSession* session = Open("c1");
  HostWindow window(32, 32);
  session->AddWindow(window.hwnd());
  codecs_->fail_creates = 1;
  control_->Deliver("c1", VideoPacket(1, 16, 16, 1));
  EXPECT_EQ(Painted(session, window.hwnd()), 0u);
  EXPECT_TRUE(TakeFirstFrameNotices().empty());
  EXPECT_EQ(Log(), (Calls{"[VideoConfSession::ShowFrame] video_decoder_ create failed"}));

  // The next frame tries again, with a picture of its own size.
  control_->Deliver("c1", VideoPacket(0, 32, 32, 2));
  EXPECT_EQ(TakeCodecCalls(),
            (Calls{"create none", "create #1", "open #1 32x32 20 49000 32", "decode #1 24"}));
  EXPECT_EQ(Painted(session, window.hwnd()), 1u);
  ExpectShows(window.hwnd(), Picture(32, 32, 2), 32, 32);
}

TEST_F(SessionTest, ADecoderThatThrowsOrRefusesCostsOnlyThatFrame) {
  VideoConfSession* session = Open("c1");
  HostWindow window(16, 16);
  session->AddWindow(window.hwnd());
  codecs_->throw_decodes = 1;
  control_->Deliver("c1", VideoPacket(1, 16, 16, 1));
  EXPECT_EQ(Log(), (Calls{"[VideoConfSession::ShowFrame] image_ create failed"}));
  codecs_->decode_answer = false;
  control_->Deliver("c1", VideoPacket(0, 16, 16, 2));
  EXPECT_EQ(Painted(session, window.hwnd()), 0u);
  EXPECT_EQ(Log().size(), 1u);  // a refusal is not logged

  codecs_->decode_answer = true;
  control_->Deliver("c1", VideoPacket(0, 16, 16, 3));
  EXPECT_EQ(Painted(session, window.hwnd()), 1u);
  EXPECT_EQ(codecs_->made, 1);  // the same decoder all along
  EXPECT_TRUE(manager_.events.empty());
}

TEST_F(SessionTest, AHostileStreamAllocatesNoPictureWithoutADecoder) {
  VideoConfSession* session = Open("c1");
  HostWindow window(16, 16);
  session->AddWindow(window.hwnd());
  // Past the bound, then sizes within it that alternate, with no decoder to
  // be had: a picture allocation would fail here and be logged.
  codecs_->fail_creates = 1000;
  const vc_test::ScopedAllocationLimit no_pictures(1 << 20);
  std::string stream;
  for (int i = 0; i < 20; ++i) {
    stream += VideoPacket(1, 8192, 8192, 1, 1);
    stream += VideoPacket(1, 3840, i % 2 ? 2160 : 2156, 2, 1);
  }
  now_ += 1000000;
  step_ = 1000;  // 100 us: every frame passes the show interval
  control_->Deliver("c1", stream);
  const Calls log = Log();
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       "[VideoConfSession::ShowFrame] picture cannot be held: width=8192, "
                       "height=8192, bit_count=32, h=c1"),
            20);
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       "[VideoConfSession::ShowFrame] video_decoder_ create failed"),
            20);
  EXPECT_EQ(log.size(), 40u);  // "image_ create failed" never
  EXPECT_TRUE(manager_.events.empty());
}

TEST_F(SessionTest, DataNotifiedDuringAParseIsDrainedWhenItEnds) {
  VideoConfSession* session = Open("c1");
  HostWindow window(16, 16);
  session->AddWindow(window.hwnd());
  codecs_->on_decode = [&, once = true]() mutable {
    if (std::exchange(once, false))
      control_->Deliver("c1", VideoPacket(0, 16, 16, 2));
  };
  control_->Deliver("c1", VideoPacket(1, 16, 16, 1));
  EXPECT_EQ(control_->queued("c1"), 0u);
  EXPECT_EQ(Painted(session, window.hwnd()), 2u);
}

TEST_F(SessionTest, APictureThatCannotBeHeldIsDroppedWithoutDecoding) {
  VideoConfSession* session = Open("c1");
  HostWindow window(16, 16);
  session->AddWindow(window.hwnd());
  control_->Deliver("c1", VideoPacket(1, 16, 16, 1, 24, 24) + VideoPacket(1, 16, 16, 2, 24, 40) +
                              VideoPacket(1, 65535, 65535, 3));
  EXPECT_TRUE(TakeCodecCalls().empty());
  EXPECT_EQ(Painted(session, window.hwnd()), 0u);
  EXPECT_EQ(Log(),
            (Calls{"[VideoConfSession::ShowFrame] picture cannot be held: width=16, height=16, "
                   "bit_count=24, h=c1",
                   "[VideoConfSession::ShowFrame] picture cannot be held: width=16, height=16, "
                   "bit_count=40, h=c1",
                   "[VideoConfSession::ShowFrame] picture cannot be held: width=65535, "
                   "height=65535, bit_count=32, h=c1"}));
  control_->Deliver("c1", VideoPacket(0, 16, 16, 4));
  EXPECT_EQ(Painted(session, window.hwnd()), 1u);
  EXPECT_TRUE(manager_.events.empty());
}

// ---------------------------------------------------------------------------
// Library calls that throw

TEST_F(SessionTest, ARecvThatThrowsStillLeavesTheBytesReadSoFarToBeParsed) {
  VideoConfSession* session = Open("c1");
  HostWindow window(16, 16);
  session->AddWindow(window.hwnd());
  const std::string first = VideoPacket(1, 16, 16, 1);
  const std::string second = VideoPacket(0, 16, 16, 2);
  control_->Queue("c1", first);
  control_->Queue("c1", second);
  control_->ThrowFrom("Recv", 0);
  int reads = 0;
  control_->inside = [&](const std::string& call, const std::string&) {
    if (call == "Recv" && ++reads == 2)
      throw KSN::exception("link down", 31);
  };
  control_->NotifyRecv("c1");
  EXPECT_EQ(Painted(session, window.hwnd()), 1u);
  EXPECT_EQ(Log(),
            (Calls{"[VideoConfSession::notifyRecv] exception: link down, error_code=31, h=c1"}));
  EXPECT_EQ(control_->queued("c1"), second.size());

  control_->NotifyRecv("c1");
  EXPECT_EQ(Painted(session, window.hwnd()), 2u);
  EXPECT_TRUE(manager_.events.empty());
}

TEST_F(SessionTest, SendsOnlyWhileConnectedAndSurvivesALibraryThatThrows) {
  VideoConfSession* session = Open("c1");
  const std::string packet = VideoPacket(1, 16, 16, 1);
  session->SendPacket(packet.data(), static_cast<std::uint32_t>(packet.size()));
  EXPECT_EQ(control_->calls, (Calls{"OpenSession c1 2 0", "IsConnected c1"}));
  EXPECT_TRUE(Log().empty());

  control_->connected.insert("c1");
  control_->ThrowFrom("IsConnected", 1, "busy", 3);
  session->SendPacket(packet.data(), static_cast<std::uint32_t>(packet.size()));
  control_->ThrowFrom("Send", 1, "full", 4);
  session->SendPacket(packet.data(), static_cast<std::uint32_t>(packet.size()));
  EXPECT_TRUE(control_->sent.empty());
  session->SendPacket(packet.data(), static_cast<std::uint32_t>(packet.size()));
  EXPECT_EQ(control_->sent, (Calls{packet}));
  EXPECT_EQ(Log(), (Calls{"[VideoConfSession::SendPacket] exception: busy, error_code=3, h=c1",
                          "[VideoConfSession::SendPacket] exception: full, error_code=4, h=c1"}));
}

TEST_F(SessionTest, ACloseSessionThatThrowsIsLoggedAndTheStopStands) {
  VideoConfSession* session = Open("c1");
  control_->ThrowFrom("CloseSession", 1, "gone", 9);
  session->Stop();
  EXPECT_EQ(Log(), (Calls{"[VideoConfSession::Stop] exception: gone, error_code=9, h=c1"}));
  control_->NotifyConnect("c1");
  control_->Deliver("c1", VideoPacket(1, 16, 16, 1));
  control_->NotifyClose("c1");
  // A stopped conference hears nothing more from the library.
  EXPECT_TRUE(manager_.events.empty());
  EXPECT_TRUE(TakeCodecCalls().empty());
  EXPECT_EQ(control_->calls.back(), "CloseSession c1");
}

// ---------------------------------------------------------------------------
// Closing

TEST_F(SessionTest, TheLibrarysCloseIsLoggedAndReportedOnce) {
  const SessionRef keep(Open("c1"));  // so that the second close still reaches it
  control_->NotifyClose("c1", 4, "peer left");
  control_->NotifyClose("c1", 4, "peer left");
  EXPECT_EQ(manager_.events, (Calls{"close c1"}));
  EXPECT_TRUE(manager_.table.empty());
  EXPECT_EQ(control_->calls, (Calls{"OpenSession c1 2 0", "CloseSession c1"}));
  EXPECT_EQ(Log(), (Calls{"[VideoConfSession::notifyClose] h=c1, err=peer left",
                          "[VideoConfSession::notifyClose] h=c1, err=peer left"}));
}

TEST_F(SessionTest, ABadLengthClosesOnceAndTheSessionOutlivesTheClose) {
  VideoConfSession* session = Open("c1");
  HostWindow window(16, 16);
  session->AddWindow(window.hwnd());
  control_->Deliver("c1", VideoPacket(1, 16, 16, 1));
  TakeCodecCalls();
  bool alive_after_removal = false;
  manager_.after_close = [&](const std::string& cid) {
    // Out of the table, yet the parse still holds it, and the text handed
    // over is still the session's own.
    alive_after_removal = manager_.table.empty() && codecs_->calls.back() != "destroy #1" &&
                          &cid == &session->h() && cid == "c1";
  };
  control_->Deliver("c1", VideoPacket(0, 16, 16, 2) + kBadHeader + VideoPacket(0, 16, 16, 3));

  EXPECT_EQ(manager_.events, (Calls{"close c1"}));
  EXPECT_TRUE(alive_after_removal);
  // Shown up to the bad header; destroyed once the parse let go.
  EXPECT_EQ(TakeCodecCalls(), (Calls{"check #1 16x16 20 49000 32", "decode #1 24", "destroy #1"}));
  EXPECT_EQ(Log(), (Calls{"[VideoConfSession::ParsePacket] runtime error"}));
  EXPECT_EQ(control_->calls.back(), "CloseSession c1");
  EXPECT_EQ(control_->ref_count(), 1);

  // Whatever the library still says goes nowhere.
  control_->Deliver("c1", kBadHeader);
  control_->NotifyClose("c1");
  control_->NotifyConnect("c1");
  EXPECT_EQ(manager_.events, (Calls{"close c1"}));
}

TEST_F(SessionTest, ABrokenStreamIsReportedOnceHoweverTheCloseInterleaves) {
  VideoConfSession* session = Open("c1");
  const SessionRef keep(session);
  // The manager keeps the session; the library answers its close at once,
  // with a close and more bad bytes, from inside the parse's report.
  manager_.close_removes = false;
  manager_.on_close = [&](const std::string&) {
    control_->NotifyClose("c1");
    control_->Deliver("c1", kBadHeader);
  };
  control_->Deliver("c1", kBadHeader);
  control_->Deliver("c1", kBadHeader);
  EXPECT_EQ(manager_.events, (Calls{"close c1"}));
  EXPECT_EQ(Log(), (Calls{"[VideoConfSession::ParsePacket] runtime error",
                          "[VideoConfSession::notifyClose] h=c1, err=closed by peer"}));
}

TEST_F(SessionTest, AFailureAfterTheLibrarysCloseIsNotReportedAgain) {
  VideoConfSession* session = Open("c1");
  const SessionRef keep(session);
  manager_.close_removes = false;  // already out of the table, say
  control_->NotifyClose("c1");
  control_->Deliver("c1", kBadHeader);
  EXPECT_EQ(manager_.events, (Calls{"close c1"}));
}

TEST_F(SessionTest, DestructionSilencesTheSinkBeforeTheDecoderAndTheDecoderBeforeTheControl) {
  Open("c1");
  control_->Deliver("c1", VideoPacket(1, 16, 16, 1));
  std::int32_t control_refs = 0;
  codecs_->on_destroy = [&](int) {
    control_->NotifyConnect("c1");
    control_refs = control_->ref_count();
  };
  manager_.table.clear();
  EXPECT_EQ(control_refs, 2);  // the test's and the session's
  EXPECT_EQ(control_->ref_count(), 1);
  EXPECT_TRUE(manager_.events.empty());
  EXPECT_EQ(control_->sink_count("c1"), 1);  // only the library's is left
}

// ---------------------------------------------------------------------------
// Two conferences

TEST_F(SessionTest, TwoConferencesEachPaintTheirOwnWindowsWithTheirOwnDecoder) {
  VideoConfSession* one = Open("c1");
  VideoConfSession* two = Open("c2");
  HostWindow w1(176, 144);
  HostWindow w2(352, 288);
  one->AddWindow(w1.hwnd());
  two->AddWindow(w2.hwnd());
  step_ = 0;  // one clock reading for both: each session keeps its own
  control_->Deliver("c1", VideoPacket(1, 176, 144, 1));
  control_->Deliver("c2", VideoPacket(1, 352, 288, 2));
  ExpectShows(w1.hwnd(), Picture(176, 144, 1), 176, 144);
  ExpectShows(w2.hwnd(), Picture(352, 288, 2), 352, 288);
  EXPECT_EQ(TakeCodecCalls(), (Calls{"create #1", "open #1 176x144 20 49000 32", "decode #1 24",
                                     "create #2", "open #2 352x288 20 49000 32", "decode #2 24"}));

  control_->NotifyClose("c1");
  now_ += 500;
  control_->Deliver("c2", VideoPacket(0, 352, 288, 3));
  ExpectShows(w2.hwnd(), Picture(352, 288, 3), 352, 288);
  EXPECT_EQ(Painted(two, w1.hwnd()), 0u);
}

// ---------------------------------------------------------------------------
// Log records

TEST_F(SessionTest, RecordsNameTheSessionsFileAndKeepTheirLevels) {
  const SessionRef session(Open("c1"));  // the close below would end it
  COMM::g_debug_log.set_level(13);
  session->notifyExtendMessage("presence", 0);
  control_->NotifyClose("c1", 0, "bye");
  EXPECT_TRUE(Log().empty());
  COMM::g_debug_log.set_level(14);
  session->notifyExtendMessage("presence", 0);
  EXPECT_EQ(Log(), (Calls{"[VideoConfSession::notifyExtendMessage] type=presence"}));
  EXPECT_NE(RawLog().find(" file:video_conf_session.cc line: "), std::string::npos) << RawLog();

  COMM::g_debug_log.set_level(6);
  session->notifyConnect(1, "no", "c1");
  COMM::g_debug_log.set_level(5);
  session->notifyConnect(1, "no", "c1");
  EXPECT_EQ(Log().size(), 2u);
}

}  // namespace
