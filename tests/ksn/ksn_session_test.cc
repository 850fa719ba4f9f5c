// Sessions through a real nats-server: in one process (controls built with
// explicit settings) and against the real library in another process.
#include <gtest/gtest.h>
#include <nats/nats.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <set>

#include "child_process.h"
#include "external/ksn_exception.h"
#include "ksn_control_impl.h"
#include "ksn_errors.h"
#include "nats_server.h"
#include "recording_sink.h"
#include "test_packets.h"
#include "wire_frame.h"

namespace {

using ksn_test::MakePacket;
using ksn_test::PumpUntil;
using ksn_test::RecordingSink;

struct Release {
  void operator()(KSNControl* p) const { p->Release(); }
  void operator()(RecordingSink* p) const { p->Release(); }
};

// One member: a control of its own and a session sink.
struct Member {
  explicit Member(const std::string& url, std::size_t max_queued = 16u << 20) {
    ksn::KsnSettings settings;
    settings.servers = {url};
    settings.max_queued_bytes = max_queued;
    control.reset(ksn::KsnControlImpl::Create(settings));
    sink.reset(RecordingSink::Create(control.get()));
  }
  bool Ready() {
    return PumpUntil([&] { return control->IsReady(); }, 10000);
  }
  void Open(const std::string& handle) { control->OpenSession(handle, 2, sink.get(), 0); }
  // Opens `handle` and waits for the other member.
  bool Join(const std::string& handle) {
    return Ready() && (Open(handle), PumpUntil([&] { return !sink->connects.empty(); }, 10000)) &&
           sink->connects[0] == 0;
  }

  std::unique_ptr<ksn::KsnControlImpl, Release> control;
  std::unique_ptr<RecordingSink, Release> sink;
};

// Both ready, both open `handle`, both told they are connected.
bool Pair(Member& a, Member& b, const std::string& handle) {
  if (!a.Ready() || !b.Ready())
    return false;
  a.Open(handle);
  b.Open(handle);
  return PumpUntil([&] { return !a.sink->connects.empty() && !b.sink->connects.empty(); }, 10000) &&
         a.sink->connects[0] == 0 && b.sink->connects[0] == 0;
}

TEST(KsnSessionTest, TwoMembersPairTheThirdIsRefusedAndClosingTellsTheOther) {
  auto server = ksn_test::NatsServer::Start();
  ASSERT_TRUE(server);
  Member a(server->url()), b(server->url()), c(server->url());
  ASSERT_TRUE(Pair(a, b, "conf one") && c.Ready());
  EXPECT_EQ(a.sink->threads[0], plat::GetCurrentThreadId());
  EXPECT_TRUE(a.control->IsConnected("conf one"));

  ASSERT_EQ(a.control->Send("conf one", "hello", 5), 5);
  ASSERT_TRUE(PumpUntil([&] { return b.sink->received == "hello"; }, 5000));

  c.Open("conf one");
  ASSERT_TRUE(PumpUntil([&] { return !c.sink->connects.empty(); }, 10000));
  EXPECT_EQ(c.sink->connects[0], ksn::kSessionFull);
  EXPECT_EQ(c.sink->last_text, ksn::kSessionFullText);
  EXPECT_FALSE(c.control->IsConnected("conf one"));
  EXPECT_TRUE(a.control->IsConnected("conf one") && b.control->IsConnected("conf one"));

  a.control->CloseSession("conf one");
  ASSERT_TRUE(PumpUntil([&] { return !b.sink->closes.empty(); }, 5000));
  EXPECT_EQ(b.sink->closes[0], ksn::kClosedByPeer);
  EXPECT_THROW(a.control->Send("conf one", "x", 1), KSN::exception) << "a closed handle is unknown";
  EXPECT_TRUE(a.sink->closes.empty()) << "no notification after CloseSession";
}

TEST(KsnSessionTest, TenThousandPacketsReachAnotherProcessWholeAndInOrder) {
  auto server = ksn_test::NatsServer::Start();
  ASSERT_TRUE(server);
  constexpr std::uint32_t kCount = 10000;
  ksn_test::ChildProcess peer({KSN_TEST_PEER, KSN_LIBRARY, "bulk", "receive", "10000"},
                              server->url());
  Member a(server->url());
  ASSERT_TRUE(a.Join("bulk"));
  ASSERT_EQ(peer.WaitLine("connected", 5000), "connected");

  // The receiver acks every 64 packets; at most 192 are in flight.
  std::uint32_t sent = 0, acked = 0;
  const auto acked_now = [&] {
    if (a.sink->received.size() >= 4)
      std::memcpy(&acked, a.sink->received.data() + (a.sink->received.size() / 4 - 1) * 4, 4);
    return acked;
  };
  while (acked_now() < kCount) {
    while (sent < kCount && sent - acked < 192) {
      const std::string packet = MakePacket(sent++);
      ASSERT_EQ(a.control->Send("bulk", packet.data(), packet.size()),
                static_cast<std::int32_t>(packet.size()));
    }
    const std::uint32_t before = acked;
    ASSERT_TRUE(PumpUntil([&] { return acked_now() != before; }, 10000)) << "stalled at " << acked;
  }
  EXPECT_EQ(peer.WaitLine("ok", 5000), "ok 10000");
  a.control->CloseSession("bulk");
  EXPECT_EQ(peer.WaitLine("closed", 5000), "closed " + std::to_string(ksn::kClosedByPeer));
}

TEST(KsnSessionTest, MembersOnTwoClusteredServersHoldAConference) {
  auto first = ksn_test::NatsServer::Start({-1, "", true, ""});
  ASSERT_TRUE(first);
  auto second = ksn_test::NatsServer::Start({-1, "", false, first->route_url()});
  ASSERT_TRUE(second);
  Member a(first->url()), b(second->url());
  ASSERT_TRUE(Pair(a, b, "across"));
  a.control->Send("across", "ping", 4);
  b.control->Send("across", "pong", 4);
  EXPECT_TRUE(
      PumpUntil([&] { return a.sink->received == "pong" && b.sink->received == "ping"; }, 5000));
}

TEST(KsnSessionTest, ServerKilledClosesSessionsAndItsReturnAllowsNewOnes) {
  auto server = ksn_test::NatsServer::Start();
  ASSERT_TRUE(server);
  const int port = server->port();
  Member a(server->url()), b(server->url());
  ASSERT_TRUE(Pair(a, b, "fragile"));

  server->Kill();
  ASSERT_TRUE(PumpUntil([&] { return !a.sink->closes.empty() && !b.sink->closes.empty(); }, 5000));
  EXPECT_EQ(a.sink->closes[0], ksn::kConnectionLost);
  EXPECT_EQ(a.sink->last_text, ksn::kConnectionLostText);
  EXPECT_FALSE(a.control->IsReady());
  EXPECT_EQ(a.control->Send("fragile", "x", 1), -1);
  a.control->CloseSession("fragile");
  b.control->CloseSession("fragile");

  server = ksn_test::NatsServer::Start({port, "", false, ""});
  ASSERT_TRUE(server);
  a.sink->connects.clear();
  b.sink->connects.clear();
  ASSERT_TRUE(Pair(a, b, "again"));
  a.control->Send("again", "back", 4);
  EXPECT_TRUE(PumpUntil([&] { return b.sink->received == "back"; }, 5000));
}

TEST(KsnSessionTest, KilledMemberProcessIsClosedWithinFiveSeconds) {
  auto server = ksn_test::NatsServer::Start();
  ASSERT_TRUE(server);
  ksn_test::ChildProcess peer({KSN_TEST_PEER, KSN_LIBRARY, "doomed", "hold"}, server->url());
  Member a(server->url());
  ASSERT_TRUE(a.Join("doomed"));
  ASSERT_EQ(peer.WaitLine("connected", 5000), "connected");

  peer.Kill();
  const auto killed = std::chrono::steady_clock::now();
  ASSERT_TRUE(PumpUntil([&] { return !a.sink->closes.empty(); }, 6000));
  EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::seconds(5));
  EXPECT_EQ(a.sink->closes[0], ksn::kPeerSilent);
}

TEST(KsnSessionTest, SlowReceiverLosesWholeMessagesOnlyAndCountsThem) {
  auto server = ksn_test::NatsServer::Start();
  ASSERT_TRUE(server);
  Member a(server->url()), b(server->url(), 1u << 20);
  ASSERT_TRUE(Pair(a, b, "slow"));
  constexpr std::uint32_t kCount = 300;
  for (std::uint32_t i = 0; i < kCount; ++i) {
    const std::string packet = MakePacket(i);
    a.control->Send("slow", packet.data(), packet.size());
  }
  // Each packet that arrives is whole, and they only move forward.
  std::uint32_t next = 0, whole = 0, dropped = 0;
  bool intact = true;
  PumpUntil(
      [&] {
        intact = intact && ksn_test::TakePackets(&b.sink->received, &next, true, &whole);
        dropped = b.control->core().Stats("slow").dropped_full;
        return !intact || whole + dropped == kCount;
      },
      10000);
  EXPECT_TRUE(intact);
  EXPECT_GT(dropped, 0u);
  EXPECT_EQ(whole + dropped, kCount);
  EXPECT_LT(b.sink->recv_calls, static_cast<int>(whole)) << "notifyRecv is coalesced";
}

TEST(KsnSecurityTest, WrongTokenIsRefusedWithALogLine) {
  auto server = ksn_test::NatsServer::Start({-1, "s3cret", false, ""});
  ASSERT_TRUE(server);
  const std::string port = std::to_string(server->port());
  testing::internal::CaptureStderr();
  {
    Member wrong("nats://guess@127.0.0.1:" + port);
    EXPECT_FALSE(PumpUntil([&] { return wrong.control->IsReady(); }, 1500));
  }
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("ksn: the NATS server refused the login"), std::string::npos) << log;
  Member right("nats://s3cret@127.0.0.1:" + port);
  EXPECT_TRUE(right.Ready());
}

// The outsider listens to everything, then replays and forges what it saw.
TEST(KsnSecurityTest, OutsiderOnAPairedConferenceChangesNothingMembersReceive) {
  auto server = ksn_test::NatsServer::Start();
  ASSERT_TRUE(server);
  Member a(server->url()), b(server->url());
  natsConnection* outsider = nullptr;
  natsSubscription* spy = nullptr;
  ASSERT_EQ(natsConnection_ConnectTo(&outsider, server->url().c_str()), NATS_OK);
  ASSERT_EQ(natsConnection_SubscribeSync(&spy, outsider, "ksn.d.>"), NATS_OK);
  natsConnection_Flush(outsider);
  ASSERT_TRUE(Pair(a, b, "private"));
  a.control->Send("private", "one", 3);
  ASSERT_TRUE(PumpUntil([&] { return b.sink->received == "one"; }, 5000));

  std::set<std::string> addresses;
  std::vector<std::string> seen;
  natsMsg* msg = nullptr;
  while (natsSubscription_NextMsg(&msg, spy, 200) == NATS_OK) {
    addresses.insert(natsMsg_GetSubject(msg));
    seen.emplace_back(natsMsg_GetData(msg), natsMsg_GetDataLength(msg));
    natsMsg_Destroy(msg);
  }
  ASSERT_FALSE(addresses.empty());
  const std::string conference = ksn::ConferenceSubject("private");
  natsConnection_PublishString(outsider, conference.c_str(), "garbage");
  for (const std::string& address : addresses) {
    const std::uint64_t to =
        std::strtoull(address.substr(address.size() - 16).c_str(), nullptr, 16);
    for (const std::string& frame : seen)  // replays, the data one included
      natsConnection_Publish(outsider, address.c_str(), frame.data(), frame.size());
    for (const ksn::FrameKind kind : {ksn::FrameKind::kData, ksn::FrameKind::kBye,
                                      ksn::FrameKind::kFull, ksn::FrameKind::kHeartbeat}) {
      std::string frame(ksn::kFrameHeaderSize, '\0');
      ksn::WriteFrameHeader({kind, ksn::RandomId(), to, 99},
                            reinterpret_cast<unsigned char*>(frame.data()));
      frame += "forged";
      natsConnection_Publish(outsider, address.c_str(), frame.data(), frame.size());
    }
    natsConnection_PublishString(outsider, address.c_str(), "garbage");
  }
  natsConnection_Flush(outsider);
  a.control->Send("private", "two", 3);
  ASSERT_TRUE(PumpUntil([&] { return b.sink->received.size() >= 6; }, 5000));
  PumpUntil([] { return false; }, 300);
  EXPECT_EQ(b.sink->received, "onetwo");
  EXPECT_TRUE(a.control->IsConnected("private") && b.control->IsConnected("private"));
  EXPECT_GT(b.control->core().Stats("private").dropped_foreign, 0u);
  natsSubscription_Destroy(spy);
  natsConnection_Destroy(outsider);
}

}  // namespace
