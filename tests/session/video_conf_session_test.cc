// A conference session between a fake peer network, a fake codec and host
// windows: what it asks of the library, what it paints, how it asks for key
// frames and how it closes.
#include "session/video_conf_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/debug_log.h"
#include "session/session_table.h"
#include "support/failing_allocator.h"
#include "support/fake_codec.h"
#include "support/fake_ksn_control.h"
#include "support/host_window.h"
#include "support/log_lines.h"
#include "support/temp_dir.h"
#include "support/video_packet.h"

namespace {

using kalo::video::VideoConfSession;
using vc_test::ExpectShows;
using vc_test::HostWindow;
using vc_test::Picture;
using vc_test::VideoPacket;
using Calls = std::vector<std::string>;
using SessionRef = COMM::RefPtr<VideoConfSession>;

constexpr std::uint64_t kNow = 133500000000000000;          // some moment in 2024, 100 ns units
const std::string kBadHeader("\x03\0\0\0\x07\0\0\0\0", 9);  // a length no packet has
const std::string kRequest("\x09\0\0\0\x08\0\0\0\0", 9);    // "a key frame, please"

// Stands for the manager: its table, closed the manager's way.
class FakeManager final : public kalo::video::ISessionEvents {
 public:
  void OnKSNSessionReady(const std::string& cid) override { events.push_back("ready " + cid); }
  void OnKSNSessionClose(const std::string& cid) override {
    events.push_back("close " + cid);
    if (on_close)
      on_close(cid);
    if (close_removes && kalo::video::CloseTableSession(table, cid) && after_close)
      after_close(cid);
  }
  void OnKeyFrameRequest(const std::string& cid) override { events.push_back("key " + cid); }

  Calls events;
  kalo::video::SessionTable table;
  bool close_removes = true;
  std::function<void(const std::string&)> on_close, after_close;
};

class SessionTest : public testing::Test {
 protected:
  void SetUp() override {
    COMM::g_debug_log.set_dir(dir_.path().c_str());
    COMM::g_debug_log.set_name("video_log");
    COMM::g_debug_log.set_level(14);
    vc_test::TakeFirstFrameNotices();
    setup_.codec_factory = vc_test::FakeCodecFactory(codecs_);
    setup_.system_time = [this] { return std::exchange(now_, now_ + step_); };
    setup_.steady_ms = [this] { return steady_ms_; };
  }
  void TearDown() override {
    manager_.table.clear();
    COMM::g_debug_log.set_level(0);
  }

  // A started conference whose only reference is the table's, with a window.
  VideoConfSession* Open(const std::string& cid, int width = 16, int height = 16) {
    SessionRef session = VideoConfSession::Create(
        &manager_, COMM::RefPtr<KSNControl>(control_.get()), cid, 0, setup_);
    VideoConfSession* raw = session.get();
    manager_.table.emplace(cid, std::move(session));
    EXPECT_TRUE(raw->Start());
    windows_.push_back(std::make_unique<HostWindow>(width, height));
    raw->AddWindow(windows_.back()->hwnd());
    return raw;
  }
  plat::HWND window(std::size_t i = 0) const { return windows_[i]->hwnd(); }
  std::uint64_t Painted(const VideoConfSession* session, std::size_t i = 0) const {
    const auto* attributes = session->windows().attributes(window(i));
    return attributes == nullptr ? 0 : attributes->frame_count;
  }
  Calls Log() { return vc_test::ReadLogMessages(dir_.path() / "video_log.txt", read_, &read_); }
  Calls TakeCodecCalls() { return std::exchange(codecs_->calls, {}); }

  vc_test::TempDir dir_;
  std::size_t read_ = 0;
  std::uint64_t now_ = kNow;
  std::uint64_t step_ = 10000;  // 1 ms between two readings of the clock
  std::int64_t steady_ms_ = 1000;
  std::shared_ptr<vc_test::CodecJournal> codecs_ = std::make_shared<vc_test::CodecJournal>();
  kalo::video::VideoConfSessionSetup setup_;
  COMM::RefPtr<vc_test::FakeKSNControl> control_ = vc_test::FakeKSNControl::Create();
  FakeManager manager_;
  std::vector<std::unique_ptr<HostWindow>> windows_;
};

TEST_F(SessionTest, OpensConnectsAndLogsRefusals) {
  VideoConfSession* session = Open("c1");
  EXPECT_EQ(control_->calls, (Calls{"OpenSession c1 2 0"}));
  EXPECT_EQ(control_->sink("c1"), session->agent());
  // The handle the library names is not compared: the session reports its own.
  control_->sink("c1")->notifyConnect(0, "ok", "whatever");
  control_->NotifyConnect("c1", 5, "refused");
  control_->sink("c1")->notifyConnect(6, nullptr, "c1");
  EXPECT_EQ(manager_.events, (Calls{"ready c1"}));
  // A second start silences the first sink.
  const COMM::RefPtr<KSN::ksnNotify> first(control_->sink("c1"));
  ASSERT_TRUE(session->Start());
  first->notifyConnect(0, "ok", "c1");
  EXPECT_EQ(manager_.events.size(), 1u);

  control_->ThrowFrom("OpenSession", 1, "no route", 12);
  EXPECT_FALSE(
      VideoConfSession::Create(&manager_, COMM::RefPtr<KSNControl>(control_.get()), "c2", 1, setup_)
          ->Start());
  EXPECT_EQ(Log(), (Calls{"[VideoConfSession::notifyConnect] h=c1, err=refused",
                          "[VideoConfSession::notifyConnect] h=c1, err=",
                          "[VideoConfSession::Start] exception: no route, error_code=12, h=c2"}));
}

// Each delivery plan: the largest piece a Recv hands out.
class SessionSplitTest : public SessionTest, public testing::WithParamInterface<std::size_t> {};

TEST_P(SessionSplitTest, PacketsInAnySplitArePaintedRightWayUpIntoEveryWindow) {
  VideoConfSession* session = Open("c1", 176, 144);
  windows_.push_back(std::make_unique<HostWindow>(352, 288));
  session->AddWindow(window(1));
  const std::string other("\x14\0\0\0\x05\0\0\0\0qqqqqqqqqqq", 20);  // skipped by its length
  const std::string stream = VideoPacket(1, 176, 144, 1, 300) + other + VideoPacket(0, 0, 144, 2) +
                             VideoPacket(0, 176, 144, 3, 7);
  const std::size_t piece = GetParam();
  for (std::size_t at = 0; at < stream.size(); at += 3 * piece)
    control_->Deliver("c1", std::string_view(stream).substr(at, 3 * piece), piece);
  EXPECT_EQ(control_->queued("c1"), 0u);
  EXPECT_EQ(Painted(session, 0), 2u);
  EXPECT_EQ(Painted(session, 1), 2u);
  EXPECT_EQ(vc_test::TakeFirstFrameNotices(), (std::vector<plat::HWND>{window(0), window(1)}));
  ExpectShows(window(0), Picture(176, 144, 3), 176, 144);
  ExpectShows(window(1), Picture(176, 144, 3), 352, 288);
  EXPECT_EQ(TakeCodecCalls(), (Calls{"create #1", "open #1 176x144 20 49000 32", "decode #1 300",
                                     "check #1 176x144 20 49000 32", "decode #1 7"}));
  EXPECT_TRUE(Log().empty());
}

INSTANTIATE_TEST_SUITE_P(Pieces, SessionSplitTest, testing::Values(1, 2, 9, 37, 136, 32000));

TEST_F(SessionTest, ReadsIn32000ByteChunksOnlyForItsOwnHandle) {
  Open("c1");
  control_->Queue("c1", VideoPacket(1, 16, 16, 1));
  control_->sink("c1")->notifyRecv("c2");
  EXPECT_GT(control_->queued("c1"), 0u);
  std::string stream;
  for (std::uint8_t tag = 2; stream.size() < 70000; ++tag)
    stream += VideoPacket(1, 16, 16, tag, 1000);
  control_->Deliver("c1", stream);
  EXPECT_EQ(control_->queued("c1"), 0u);
  // One read for the first packet's piece, then chunks; the last finds nothing.
  const auto reads = static_cast<std::ptrdiff_t>(1 + (stream.size() + 31999) / 32000 + 1);
  EXPECT_EQ(std::count(control_->calls.begin(), control_->calls.end(), "Recv c1 32000"), reads);
}

// The key-frame gate: nothing is shown without a clean picture, and the
// sender is asked for one at most every 100 ms; a partner's request goes to
// the manager.
TEST_F(SessionTest, WithoutACleanPictureItShowsNothingAndAsksForAKeyFrame) {
  VideoConfSession* session = Open("c1");
  control_->connected.insert("c1");
  control_->Deliver("c1", VideoPacket(0, 16, 16, 1) + VideoPacket(0, 16, 16, 2));
  steady_ms_ += 99;
  control_->Deliver("c1", VideoPacket(0, 16, 16, 3));
  EXPECT_EQ(control_->sent, (Calls{kRequest}));
  steady_ms_ += 1;
  control_->Deliver("c1", VideoPacket(0, 16, 16, 4));
  control_->Deliver("c1", VideoPacket(1, 16, 16, 5) + VideoPacket(0, 16, 16, 6));
  EXPECT_EQ(control_->sent, (Calls{kRequest, kRequest}));
  EXPECT_EQ(Painted(session), 2u);

  // A lost packet (7): nothing more until a key frame, and a request at once.
  steady_ms_ += 100;
  control_->Deliver("c1", VideoPacket(0, 16, 16, 8) + VideoPacket(0, 16, 16, 9));
  EXPECT_EQ(Painted(session), 2u);
  EXPECT_EQ(control_->sent.size(), 3u);
  // A request from the partner is the manager's.
  control_->Deliver("c1", VideoPacket(1, 16, 16, 10) + kRequest);
  ExpectShows(window(), Picture(16, 16, 10), 16, 16);
  EXPECT_EQ(manager_.events, (Calls{"key c1"}));
  EXPECT_EQ(Log(), (Calls{"[VideoConfSession::ParsePacket] seq gap: expected=7, got=8, h=c1"}));
}

TEST_F(SessionTest, FramesCloserThan50MicrosecondsOrBeforeTheLastShownAreDropped) {
  VideoConfSession* session = Open("c1");
  step_ = 0;
  control_->Deliver("c1", VideoPacket(1, 16, 16, 1));
  std::uint8_t tag = 2;
  for (const std::uint64_t t : {kNow, kNow + 499, kNow - 36000000000, kNow - 1}) {
    now_ = t;
    control_->Deliver("c1", VideoPacket(0, 16, 16, tag++));
  }
  EXPECT_EQ(Painted(session), 1u);
  now_ = kNow + 500;
  control_->Deliver("c1", VideoPacket(0, 16, 16, tag));
  EXPECT_EQ(Painted(session), 2u);
  ExpectShows(window(), Picture(16, 16, tag), 16, 16);
}

TEST_F(SessionTest, TheDecoderIsRemadeForEachNewSizeAndItsFailuresCostOneFrame) {
  VideoConfSession* session = Open("c1", 64, 64);
  codecs_->check_says_same = true;  // trusted only for the size it was made for
  codecs_->fail_creates = 1;
  control_->Deliver(
      "c1", VideoPacket(1, 16, 16, 1) + VideoPacket(0, 32, 32, 2) + VideoPacket(0, 64, 64, 3));
  EXPECT_EQ(TakeCodecCalls(), (Calls{"create none", "create #1", "open #1 32x32 20 49000 32",
                                     "decode #1 24", "check #1 64x64 20 49000 32", "create #2",
                                     "destroy #1", "open #2 64x64 20 49000 32", "decode #2 24"}));
  ExpectShows(window(), Picture(64, 64, 3), 64, 64);  // a picture of the old size would overrun

  codecs_->throw_decodes = 1;
  control_->Deliver("c1", VideoPacket(0, 64, 64, 4));
  codecs_->decode_answer = false;
  control_->Deliver("c1", VideoPacket(0, 64, 64, 5));
  EXPECT_EQ(Painted(session), 2u);
  EXPECT_EQ(Log(), (Calls{"[VideoConfSession::ShowFrame] video_decoder_ create failed",
                          "[VideoConfSession::ShowFrame] image_ create failed"}));
  EXPECT_TRUE(manager_.events.empty());
}

// More than four decoders within a second: the stream is dropped for the
// rest of that second, with one record, and comes back with a key frame.
TEST_F(SessionTest, AStreamThatChangesSizeTooOftenIsDroppedForTheRestOfTheSecond) {
  VideoConfSession* session = Open("c1");
  control_->connected.insert("c1");
  std::string stream;
  for (std::uint8_t tag = 1; tag <= 12; ++tag)
    stream += VideoPacket(1, 16, tag % 2 ? 16 : 8, tag);
  control_->Deliver("c1", stream);
  EXPECT_EQ(codecs_->made, 4);
  EXPECT_EQ(session->size_change_drops(), 8u);
  EXPECT_EQ(Log(), (Calls{"[VideoConfSession::ShowFrame] picture size changes too often: more "
                          "than 4 decoders in a second, frames dropped for the rest of it, h=c1"}));
  steady_ms_ += 1000;
  control_->Deliver("c1", VideoPacket(0, 16, 16, 13) + VideoPacket(1, 16, 16, 14));
  EXPECT_EQ(Painted(session), 5u);  // four before the drop, the key frame after it
  EXPECT_EQ(control_->sent, (Calls{kRequest}));
}

// Sizes past the bound or of other pixels are never decoded; sizes within it
// that no decoder is made for cost no picture.
TEST_F(SessionTest, AHostileStreamAllocatesNoPictureWithoutADecoder) {
  Open("c1");
  codecs_->fail_creates = 1000;
  const vc_test::ScopedAllocationLimit no_pictures(1 << 20);
  std::string stream;
  for (std::uint8_t tag = 1; tag < 60; tag += 3) {
    stream += VideoPacket(1, 8192, 8192, tag, 1) + VideoPacket(1, 16, 16, tag + 1, 1, 24);
    stream += VideoPacket(1, 3840, tag % 2 ? 2160 : 2156, tag + 2, 1);
  }
  control_->Deliver("c1", stream);
  const Calls log = Log();
  const std::string held = "[VideoConfSession::ShowFrame] picture cannot be held: width=";
  EXPECT_EQ(log[0], held + "8192, height=8192, bit_count=32, h=c1");
  EXPECT_EQ(log[1], held + "16, height=16, bit_count=24, h=c1");
  EXPECT_EQ(log[2], "[VideoConfSession::ShowFrame] video_decoder_ create failed");
  EXPECT_EQ(std::count(log.begin(), log.end(), log[2]), 4);
  EXPECT_TRUE(manager_.events.empty());
}

TEST_F(SessionTest, DataArrivingDuringAParseOrLeftByAFailedRecvIsReadLater) {
  VideoConfSession* session = Open("c1");
  codecs_->on_decode = [&, once = true]() mutable {
    if (std::exchange(once, false))
      control_->Deliver("c1", VideoPacket(0, 16, 16, 2));
  };
  control_->Deliver("c1", VideoPacket(1, 16, 16, 1));
  EXPECT_EQ(Painted(session), 2u);

  control_->Queue("c1", VideoPacket(0, 16, 16, 3));
  control_->Queue("c1", VideoPacket(0, 16, 16, 4));
  int reads = 0;
  control_->inside = [&](const std::string& call, const std::string&) {
    if (call == "Recv" && ++reads == 2)
      throw KSN::exception("link down", 31);
  };
  control_->NotifyRecv("c1");
  EXPECT_EQ(Painted(session), 3u);
  control_->NotifyRecv("c1");
  EXPECT_EQ(Painted(session), 4u);
  EXPECT_EQ(Log(),
            (Calls{"[VideoConfSession::notifyRecv] exception: link down, error_code=31, h=c1"}));
}

TEST_F(SessionTest, SendsOnlyWhileConnectedAndHearsNothingOnceStopped) {
  VideoConfSession* session = Open("c1");
  const std::string packet = VideoPacket(1, 16, 16, 1);
  const auto send = [&] { session->SendPacket(packet.data(), packet.size()); };
  send();
  control_->connected.insert("c1");
  control_->ThrowFrom("IsConnected", 1, "busy", 3);
  send();
  control_->ThrowFrom("Send", 1, "full", 4);
  send();
  send();
  EXPECT_EQ(control_->sent, (Calls{packet}));

  control_->ThrowFrom("CloseSession", 1, "gone", 9);
  session->Stop();
  control_->NotifyConnect("c1");
  control_->Deliver("c1", packet + kRequest);
  control_->NotifyClose("c1");
  EXPECT_TRUE(manager_.events.empty());
  EXPECT_TRUE(TakeCodecCalls().empty());
  EXPECT_EQ(Log(), (Calls{"[VideoConfSession::SendPacket] exception: busy, error_code=3, h=c1",
                          "[VideoConfSession::SendPacket] exception: full, error_code=4, h=c1",
                          "[VideoConfSession::Stop] exception: gone, error_code=9, h=c1",
                          "[VideoConfSession::notifyClose] h=c1, err=closed by peer"}));
}

TEST_F(SessionTest, TheLibrarysCloseOrABadLengthClosesOnceAndTheSessionOutlivesIt) {
  const SessionRef keep(Open("c1"));  // so that the second close still reaches it
  control_->NotifyClose("c1", 4, "peer left");
  control_->NotifyClose("c1", 4, "peer left");
  control_->Deliver("c1", kBadHeader);
  EXPECT_EQ(manager_.events, (Calls{"close c1"}));
  EXPECT_EQ(control_->calls.back(), "CloseSession c1");

  VideoConfSession* session = Open("c2");
  control_->Deliver("c2", VideoPacket(1, 16, 16, 1));
  TakeCodecCalls();
  bool alive_after_removal = false;
  manager_.after_close = [&](const std::string& cid) {
    // Out of the table, yet the parse still holds it, and the text handed
    // over is still the session's own.
    alive_after_removal =
        manager_.table.empty() && codecs_->calls.back() != "destroy #1" && &cid == &session->h();
  };
  control_->Deliver("c2", VideoPacket(0, 16, 16, 2) + kBadHeader + VideoPacket(0, 16, 16, 3));
  EXPECT_TRUE(alive_after_removal);
  EXPECT_EQ(TakeCodecCalls(), (Calls{"check #1 16x16 20 49000 32", "decode #1 24", "destroy #1"}));
  EXPECT_EQ(manager_.events, (Calls{"close c1", "close c2"}));
  EXPECT_EQ(Log(), (Calls{"[VideoConfSession::notifyClose] h=c1, err=peer left",
                          "[VideoConfSession::notifyClose] h=c1, err=peer left",
                          "[VideoConfSession::ParsePacket] runtime error"}));
  EXPECT_EQ(control_->ref_count(), 2);  // the test's and the kept session's
}

TEST_F(SessionTest, ABrokenStreamIsReportedOnceHoweverTheCloseInterleaves) {
  const SessionRef keep(Open("c1"));
  manager_.close_removes = false;
  // The library answers the report at once with a close and more bad bytes.
  manager_.on_close = [&](const std::string&) {
    control_->NotifyClose("c1");
    control_->Deliver("c1", kBadHeader);
  };
  control_->Deliver("c1", kBadHeader);
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

}  // namespace
