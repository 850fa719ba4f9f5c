// The console over NATS request/reply. With the console key it is answered
// by the real manager and by a plain object, each on the thread that
// registered it. Without the key (none, a wrong one, a copy of a signed
// request, a forged reply) nothing is answered or believed, and nothing on
// the console's subjects names a conference.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "ksn_control_impl.h"
#include "manager/video_conf_manager.h"
#include "outsider.h"
#include "process/nats_server.h"
#include "recording_sink.h"
#include "registry_client.h"
#include "wire_frame.h"

namespace {

constexpr char kConsoleKey[] = "the console key of this test, 0123";
constexpr char kCid[] = "cid-5a1b-known-only-to-members";

// Keeps the defaults (Get and Set unsupported), noting the thread it is asked on.
class PlainObject : public ksn::object {
 public:
  std::string Get(const char* key) override {
    thread = plat::GetCurrentThreadId();
    return ksn::object::Get(key);
  }
  plat::DWORD thread = 0;
};

ksn::KsnSettings Settings(const vc_process::NatsServer& server, const std::string& console_key) {
  ksn::KsnSettings settings;
  settings.servers = {server.url()};
  settings.console_key = console_key;
  return settings;
}

TEST(KsnRegistryTest, KeyedOperatorIsAnsweredOnTheObjectsThreadsAndNobodyElse) {
  auto server = vc_process::NatsServer::Start();
  ASSERT_TRUE(server);
  const ksn::KsnSettings settings = Settings(*server, kConsoleKey);
  COMM::RefPtr<KSNControl> control(ksn::KsnControlImpl::Create(settings), COMM::adopt_ref);
  auto& core = static_cast<ksn::KsnControlImpl*>(control.get())->core();
  ASSERT_TRUE(ksn_test::PumpUntil([&] { return control->IsReady(); }, 10000));

  const auto log_dir = std::filesystem::temp_directory_path() / "ksn_registry_test_logs";
  std::filesystem::create_directories(log_dir);
  kalo::video::VideoConfManagerSetup setup;
  setup.ksn_control = control;
  setup.log_dir = log_dir.string();
  auto manager = std::make_unique<kalo::video::VideoConfManager>(setup);
  PlainObject plain;
  control->RegisterObject("test/plain", &plain);
  COMM::RefPtr<ksn_test::RecordingSink> sink(ksn_test::RecordingSink::Create(control.get()),
                                             COMM::adopt_ref);
  control->OpenSession(kCid, 2, sink.get(), 0);
  ksn_test::Outsider outsider(server->url(), ">");
  outsider.Answer(ksn::kRegistryListSubject, "member 0000000000000bad\nhost forged\npid 1\n");

  // The operator's side blocks on its requests: it runs on a thread of its
  // own while this one pumps, as the host's would.
  std::string error;
  auto client = ksn::RegistryClient::Connect(settings, &error);
  ASSERT_TRUE(client) << error;
  auto stranger =
      ksn::RegistryClient::Connect(Settings(*server, "another key, just as long"), &error);
  ASSERT_TRUE(stranger) << error;
  const std::string member = ksn::HexId(core.member());
  std::vector<ksn::PeerListing> peers, strangers_peers;
  ksn::RegistryReply help, set, level, unsupported, sessions, strangers_set, level_after;
  std::atomic<bool> done{false};
  std::thread op([&] {
    peers = client->ListPeers(500);
    help = client->Get(member, "video/VideoConfManager", "help", 5000);
    set = client->Set(member, "video/VideoConfManager", "log_level", "6", 5000);
    level = client->Get(member, "video/VideoConfManager", "log_level", 5000);
    unsupported = client->Get(member, "test/plain", "anything", 5000);
    sessions = client->Get(member, "ksn/control", "sessions", 5000);
    strangers_peers = stranger->ListPeers(500);
    strangers_set = stranger->Set(member, "video/VideoConfManager", "log_level", "0", 500);
    level_after = client->Get(member, "video/VideoConfManager", "log_level", 5000);
    done = true;
  });
  ksn_test::PumpUntil([&] { return done.load(); }, 30000);
  op.join();

  ASSERT_EQ(peers.size(), 1u);
  EXPECT_EQ(peers[0].member, member);
  EXPECT_EQ(peers[0].objects,
            (std::vector<std::string>{"test/plain", "video/VideoConfManager", "ksn/control"}));
  EXPECT_GE(client->forged_replies(), 1u);
  EXPECT_EQ(help.text,
            "log_level\r\nvideo_cap_driver\r\nvideo_opened\r\nvideo_type\r\nout_bw_valve\r\n"
            "session_list\r\n");
  EXPECT_TRUE(set.ok);
  EXPECT_EQ(level.text, "6");
  EXPECT_EQ(unsupported.code, 5013);
  EXPECT_EQ(unsupported.text, "unsupported");
  EXPECT_EQ(plain.thread, plat::GetCurrentThreadId());
  EXPECT_NE(sessions.text.find(kCid), std::string::npos) << sessions.text;
  EXPECT_TRUE(strangers_peers.empty());
  EXPECT_FALSE(strangers_set.ok);
  EXPECT_EQ(level_after.text, "6");

  // What the outsider read: no conference named on the console's subjects;
  // sent again as it was, or unsigned, a request is not answered.
  const ksn_test::Outsider::Seen* request = nullptr;
  const std::vector<ksn_test::Outsider::Seen> seen_all = outsider.Drain();
  for (const ksn_test::Outsider::Seen& seen : seen_all) {
    if (seen.subject.rfind("ksn.r.", 0) == 0 || seen.subject.rfind("_INBOX.", 0) == 0) {
      EXPECT_EQ(seen.data.find(kCid), std::string::npos) << seen.subject;
    }
    if (seen.subject == ksn::RegistrySubject(core.member()) &&
        seen.data.find("ksn/control") != std::string::npos)
      request = &seen;
  }
  ASSERT_TRUE(request);
  natsSubscription* replies = nullptr;
  natsConnection_SubscribeSync(&replies, outsider.nc, request->reply.c_str());
  outsider.Send(request->subject, request->data, request->reply);
  natsMsg* reply = nullptr;
  EXPECT_EQ(natsSubscription_NextMsg(&reply, replies, 1000), NATS_TIMEOUT);
  natsSubscription_Destroy(replies);
  EXPECT_EQ(natsConnection_RequestString(&reply, outsider.nc, request->subject.c_str(),
                                         "get\nksn/control\nsessions", 500),
            NATS_TIMEOUT);
  control->CloseSession(kCid);
  control->UnregisterObject("test/plain");
  manager.reset();
}

TEST(KsnRegistryTest, WithoutAConsoleKeyThePeerIsNotOnTheConsolesSubjects) {
  auto server = vc_process::NatsServer::Start();
  ASSERT_TRUE(server);
  COMM::RefPtr<KSNControl> control(ksn::KsnControlImpl::Create(Settings(*server, "")),
                                   COMM::adopt_ref);
  auto& core = static_cast<ksn::KsnControlImpl*>(control.get())->core();
  ASSERT_TRUE(ksn_test::PumpUntil([&] { return control->IsReady(); }, 10000));
  ksn_test::Outsider outsider(server->url(), "nothing.to.watch");
  for (const std::string& subject :
       {std::string(ksn::kRegistryListSubject), ksn::RegistrySubject(core.member())}) {
    natsMsg* reply = nullptr;
    EXPECT_EQ(natsConnection_RequestString(&reply, outsider.nc, subject.c_str(), "list", 2000),
              NATS_NO_RESPONDERS)
        << subject;
  }
}

}  // namespace
