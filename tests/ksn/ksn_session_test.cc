// Sessions through a real nats-server: in one process (controls built with
// explicit settings) and against the real library in another process.
#include <gtest/gtest.h>
#include <nats/nats.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <set>

#include "external/ksn_exception.h"
#include "ksn_control_impl.h"
#include "ksn_errors.h"
#include "outsider.h"
#include "process/child_process.h"
#include "process/nats_server.h"
#include "recording_sink.h"
#include "test_packets.h"
#include "wire_frame.h"

namespace {

using ksn_test::MakePacket;
using ksn_test::Outsider;
using ksn_test::PumpUntil;
using ksn_test::RecordingSink;

struct Release {
  void operator()(KSNControl* p) const { p->Release(); }
  void operator()(RecordingSink* p) const { p->Release(); }
};

ksn::KsnSettings SettingsFor(const std::string& url, std::size_t max_queued) {
  ksn::KsnSettings settings;
  settings.servers = {url};
  settings.max_queued_bytes = max_queued;
  return settings;
}

// One member: a control of its own and a session sink.
struct Member {
  explicit Member(const std::string& url, std::size_t max_queued = 16u << 20)
      : Member(SettingsFor(url, max_queued)) {}
  explicit Member(const ksn::KsnSettings& settings) {
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

// Sends numbered packets from `from` until `to` has taken `count` more whole
// ones. Gaps are allowed: what goes while the members pair again is lost.
bool Flow(Member& from, Member& to, const std::string& handle, std::uint32_t* sent,
          std::uint32_t* seen, std::uint32_t count) {
  std::uint32_t whole = 0;
  bool in_order = true;
  PumpUntil(
      [&] {
        const std::string packet = MakePacket(*sent);
        const auto size = static_cast<std::uint32_t>(packet.size());
        *sent += from.control->Send(handle, packet.data(), size) > 0;
        in_order = ksn_test::TakePackets(&to.sink->received, seen, true, &whole);
        return !in_order || whole >= count;
      },
      10000);
  return in_order && whole >= count;
}

TEST(KsnSessionTest, CallRidesOutAServerRestartButNotAnOutagePastTheGracePeriod) {
  auto server = vc_process::NatsServer::Start();
  ASSERT_TRUE(server);
  const int port = server->port();
  Member a(server->url()), b(server->url());
  ASSERT_TRUE(Pair(a, b, "restart"));
  std::uint32_t sent = 0, seen = 0;
  ASSERT_TRUE(Flow(a, b, "restart", &sent, &seen, 3));

  server->Kill();
  PumpUntil([&] { return !a.control->IsReady(); }, 5000);
  EXPECT_EQ(a.control->Send("restart", "x", 1), -1);
  PumpUntil([] { return false; }, 1000);
  server = vc_process::NatsServer::Start({.port = port});
  ASSERT_TRUE(server);
  EXPECT_TRUE(Flow(a, b, "restart", &sent, &seen, 3));
  EXPECT_TRUE(a.sink->closes.empty() && b.sink->closes.empty());
  EXPECT_EQ(a.sink->connects.size(), 1u);

  // The loss hook of tests: every second message sealed but never sent.
  ksn::KsnSettings brief = SettingsFor(server->url(), 16u << 20);
  brief.grace_ms = 1000;
  brief.drop_every = 2;
  Member c(brief), d(brief);
  ASSERT_TRUE(Pair(c, d, "brief"));
  std::uint32_t c_sent = 0, d_seen = 0;
  EXPECT_TRUE(Flow(c, d, "brief", &c_sent, &d_seen, 3));
  EXPECT_GE(d.control->core().Stats("brief").lost_in_transit, 2u);

  server->Kill();
  ASSERT_TRUE(PumpUntil([&] { return !c.sink->closes.empty() && !d.sink->closes.empty(); }, 5000));
  EXPECT_EQ(c.sink->closes[0], ksn::kConnectionLost);
  EXPECT_EQ(c.sink->last_text, ksn::kConnectionLostText);
}

TEST(KsnSessionTest, KilledMemberProcessIsClosedWithinFiveSeconds) {
  auto server = vc_process::NatsServer::Start();
  ASSERT_TRUE(server);
  vc_process::ChildProcess peer({KSN_TEST_PEER, KSN_LIBRARY, "doomed", "hold"}, server->url());
  Member a(server->url());
  ASSERT_TRUE(a.Join("doomed"));
  ASSERT_EQ(peer.WaitLine("connected", 5000), "connected");

  peer.Kill();
  const auto killed = std::chrono::steady_clock::now();
  ASSERT_TRUE(PumpUntil([&] { return !a.sink->closes.empty(); }, 6000));
  EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::seconds(5));
  EXPECT_EQ(a.sink->closes[0], ksn::kPeerSilent);
}

// Each side sends on its own thread while its connection's reader receives
// and answers: the writes of the two threads never cost the connection, so
// every packet arrives, in order and without a gap.
TEST(KsnSessionTest, BothWaysAtOnceEveryPacketArrives) {
  auto server = vc_process::NatsServer::Start();
  ASSERT_TRUE(server);
  Member a(server->url()), b(server->url());
  ASSERT_TRUE(Pair(a, b, "both"));
  constexpr std::uint32_t kCount = 400;
  std::uint32_t sent[2] = {}, next[2] = {}, whole[2] = {};
  bool in_order = true;
  PumpUntil(
      [&] {
        for (int side = 0; side < 2; ++side) {
          Member& from = side == 0 ? a : b;
          Member& to = side == 0 ? b : a;
          if (sent[side] < kCount) {
            const std::string packet = MakePacket(sent[side]);
            sent[side] += from.control->Send("both", packet.data(), packet.size()) > 0;
          }
          in_order = in_order &&
                     ksn_test::TakePackets(&to.sink->received, &next[side], false, &whole[side]);
        }
        return !in_order || (whole[0] == kCount && whole[1] == kCount);
      },
      15000);
  EXPECT_TRUE(in_order);
  EXPECT_EQ(whole[0], kCount);
  EXPECT_EQ(whole[1], kCount);
}

TEST(KsnSessionTest, SlowReceiverLosesWholeMessagesOnlyAndCountsThem) {
  auto server = vc_process::NatsServer::Start();
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

// The members pair again with fresh keys; HELLOs of the old pairing,
// replayed by an outsider, are left behind.
TEST(KsnSessionTest, CallGoesOnThroughAnotherServerWhenAMembersServerDies) {
  auto first = vc_process::NatsServer::Start({.cluster = true});
  ASSERT_TRUE(first);
  auto second = vc_process::NatsServer::Start({.cluster = true, .route_to = first->route_url()});
  auto third = vc_process::NatsServer::Start({.cluster = true, .route_to = first->route_url()});
  ASSERT_TRUE(second && third);
  Outsider outsider(second->url(), "ksn.>");
  // a knows only its own server: the others it learns from the cluster.
  Member a(first->url()), b(second->url());
  ASSERT_TRUE(Pair(a, b, "cluster"));
  std::uint32_t sent = 0, seen = 0, back = 0, back_seen = 0;
  ASSERT_TRUE(Flow(a, b, "cluster", &sent, &seen, 3));
  const std::vector<Outsider::Seen> before = outsider.Drain();

  first->Kill();
  EXPECT_TRUE(Flow(a, b, "cluster", &sent, &seen, 3));
  EXPECT_TRUE(Flow(b, a, "cluster", &back, &back_seen, 3));
  const std::uint64_t foreign = b.control->core().Stats("cluster").dropped_foreign;
  for (const Outsider::Seen& m : before) {
    if (m.data.size() == ksn::kPairingFrameSize)
      outsider.Send(m.subject, m.data, m.reply);
  }
  natsConnection_Flush(outsider.nc);
  EXPECT_TRUE(PumpUntil(
      [&] { return b.control->core().Stats("cluster").dropped_foreign > foreign; }, 5000));
  EXPECT_TRUE(b.control->IsConnected("cluster"));
  EXPECT_TRUE(Flow(a, b, "cluster", &sent, &seen, 3));
  EXPECT_TRUE(a.sink->closes.empty() && b.sink->closes.empty());
}

std::string Sealed(std::uint64_t counter, const std::string& rest) {
  std::string frame(ksn::kSealedHeaderSize, '\0');
  ksn::WriteSealedHeader(counter, reinterpret_cast<unsigned char*>(frame.data()));
  return frame + std::string(ksn::kSealTagSize, '\x5a') + rest;
}

std::string Signed(ksn::FrameKind kind, std::uint64_t to) {
  std::string frame(ksn::kPairingFrameSize, '\x33');
  ksn::WritePairingFrame({kind, ksn::RandomId(), to, {}},
                         reinterpret_cast<unsigned char*>(frame.data()));
  return frame;
}

// A call to another process with a listener on `>`, who then replays,
// flips, cuts and forges everything it saw, addressed to both members.
TEST(KsnSecurityTest, OutsiderReadsNothingAndCannotSteerOrEndACall) {
  auto server = vc_process::NatsServer::Start();
  ASSERT_TRUE(server);
  const std::string cid = "0c9d6f3e-4b1a-4e8f-9a27-5d3c1b0e7f64";
  constexpr std::uint32_t kCount = 256;  // 8 MB: fits the receiver's queue
  Outsider outsider(server->url(), ">");
  ASSERT_TRUE(outsider.spy);
  vc_process::ChildProcess peer({KSN_TEST_PEER, KSN_LIBRARY, cid, "receive", "256"}, server->url());
  Member a(server->url());
  ASSERT_TRUE(a.Join(cid));
  ASSERT_EQ(peer.WaitLine("connected", 5000), "connected");

  std::uint32_t sent = 0;
  const auto send_until = [&](std::uint32_t last) {
    for (std::string packet; sent < last;) {
      packet = MakePacket(sent++);
      ASSERT_EQ(a.control->Send(cid, packet.data(), packet.size()), packet.size());
    }
  };
  send_until(kCount / 2);
  ASSERT_TRUE(PumpUntil([&] { return a.sink->received.size() >= 4; }, 5000)) << "the first ack";

  const std::vector<Outsider::Seen> seen = outsider.Drain();
  std::set<std::string> addresses;
  for (const Outsider::Seen& m : seen) {
    for (const std::string* text : {&m.subject, &m.reply, &m.data})
      EXPECT_EQ(text->find(cid), std::string::npos) << m.subject;
    // Both codes together: random ciphertext holds one four-byte code now and then.
    EXPECT_EQ(m.data.find(std::string(ksn_test::kStartCodes, 8)), std::string::npos) << m.subject;
    if (m.subject.rfind("ksn.s.", 0) == 0)
      addresses.insert(m.subject);
  }
  ASSERT_EQ(addresses.size(), 2u) << "both members' addresses were seen";

  for (const Outsider::Seen& m : seen) {
    outsider.Send(m.subject, m.data, m.reply);  // as it was
    std::string flipped = m.data;
    flipped[flipped.size() / 2] ^= 0x40;
    outsider.Send(m.subject, flipped, m.reply);
    outsider.Send(m.subject, m.data.substr(0, m.data.size() / 2), m.reply);
  }
  for (const std::string& address : addresses) {
    outsider.Send(address, Sealed(~std::uint64_t{0}, "\x08forged sequence"));
    outsider.Send(address, Sealed(1u << 20, "\x06"));                  // a close
    outsider.Send(address, Sealed(1u << 21, "\x08" + MakePacket(7)));  // a picture
    for (const auto kind : {ksn::FrameKind::kPropose, ksn::FrameKind::kFull, ksn::FrameKind::kBye})
      outsider.Send(address, Signed(kind, 0), address);
    outsider.Send(address, std::string(700, '\x5a'));
  }
  natsConnection_Flush(outsider.nc);

  send_until(kCount);
  EXPECT_EQ(peer.WaitLine("ok", 10000), "ok 256") << "the call went on: nothing injected or lost";
  const ksn::SessionStats stats = a.control->core().Stats(cid);
  EXPECT_GT(stats.dropped_unopened, 10u);
  EXPECT_GT(stats.dropped_replayed, 0u);
  EXPECT_TRUE(a.control->IsConnected(cid));
  a.control->CloseSession(cid);
  EXPECT_EQ(peer.WaitLine("closed", 5000), "closed " + std::to_string(ksn::kClosedByPeer));
}

// A member waiting alone: an outsider tries to pair with it; a member on the
// old framing and a third member are told at once why they are refused. The
// others are on a second server of a cluster.
TEST(KsnSecurityTest, WaitingMemberPairsOnlyWithOneWhoKnowsTheConference) {
  auto server = vc_process::NatsServer::Start({.cluster = true});
  ASSERT_TRUE(server);
  auto second = vc_process::NatsServer::Start({.route_to = server->route_url()});
  ASSERT_TRUE(second);
  Outsider outsider(server->url(), "ksn.c.>");
  Member a(server->url()), b(second->url()), c(second->url());
  ASSERT_TRUE(a.Ready() && b.Ready() && c.Ready());
  a.Open("secret");
  std::vector<Outsider::Seen> hello = outsider.Drain();
  ASSERT_FALSE(hello.empty());
  const Outsider::Seen& h = hello[0];
  std::uint64_t a_id = 0;
  std::memcpy(&a_id, h.data.data() + 4, 8);
  const std::string ours = "ksn.s.0123456789abcdef0123456789abcdef";
  outsider.Send(h.reply, Signed(ksn::FrameKind::kPropose, a_id), ours);
  outsider.Send(h.reply, Signed(ksn::FrameKind::kAccept, a_id), ours);
  outsider.Send(h.subject, h.data, ours);  // its HELLO, our address
  std::string old(ksn::kLegacyHeaderSize, '\0');
  old[0] = 'K', old[1] = 1, old[2] = 1, old[4] = 9;
  outsider.Send(h.subject, old, "ksn.d.0000000000000009.0000000000000009");
  natsConnection_Flush(outsider.nc);
  ASSERT_TRUE(PumpUntil([&] { return !a.sink->connects.empty(); }, 5000));
  EXPECT_EQ(a.sink->connects[0], ksn::kOldFraming);
  EXPECT_FALSE(a.control->IsConnected("secret"));
  // The forged frames reach their subscriptions in no set order beside the old one.
  EXPECT_TRUE(
      PumpUntil([&] { return a.control->core().Stats("secret").dropped_unopened >= 3; }, 5000));

  b.Open("secret");
  ASSERT_TRUE(PumpUntil(
      [&] { return a.control->IsConnected("secret") && !b.sink->connects.empty(); }, 10000));
  EXPECT_EQ(b.sink->connects[0], 0u);
  c.Open("secret");
  ASSERT_TRUE(PumpUntil([&] { return !c.sink->closes.empty(); }, 5000)) << "told at once";
  EXPECT_EQ(c.sink->connects, std::vector<std::uint32_t>{ksn::kSessionFull});
  EXPECT_EQ(c.sink->closes[0], ksn::kSessionFull);
  EXPECT_EQ(c.sink->last_text, "the conference already has two members");
  ASSERT_EQ(a.control->Send("secret", "still ours", 10), 10);
  EXPECT_TRUE(PumpUntil([&] { return b.sink->received == "still ours"; }, 5000));
  EXPECT_EQ(b.sink->threads[0], plat::GetCurrentThreadId());

  a.control->CloseSession("secret");
  ASSERT_TRUE(PumpUntil([&] { return !b.sink->closes.empty(); }, 5000));
  EXPECT_EQ(b.sink->closes[0], ksn::kClosedByPeer);
  EXPECT_THROW(a.control->Send("secret", "x", 1), KSN::exception) << "a closed handle is unknown";
  EXPECT_TRUE(a.sink->closes.empty()) << "no notification after CloseSession";
}

}  // namespace
