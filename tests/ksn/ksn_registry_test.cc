// The diagnostic registry over NATS request/reply: objects answer on the
// thread that registered them; the real manager registers itself.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "ksn_control_impl.h"
#include "manager/video_conf_manager.h"
#include "nats_server.h"
#include "recording_sink.h"
#include "registry_client.h"
#include "wire_frame.h"

namespace {

// Keeps the defaults: Get and Set are unsupported.
class PlainObject : public ksn::object {};

// Answers as a console does, and notes the thread it is called on.
class Console : public ksn::object {
 public:
  std::string Get(const char* key) override {
    threads.push_back(plat::GetCurrentThreadId());
    return std::string(key) == "help" ? "level\r\n" : level;
  }
  void Set(const char* key, const std::string& value) override {
    threads.push_back(plat::GetCurrentThreadId());
    level = value;
  }
  std::string level = "14";
  std::vector<plat::DWORD> threads;
};

TEST(KsnRegistryTest, ObjectsAnswerGetAndSetOverNatsOnTheirOwnThread) {
  auto server = ksn_test::NatsServer::Start();
  ASSERT_TRUE(server);
  ksn::KsnSettings settings;
  settings.servers = {server->url()};
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
  Console console;
  control->RegisterObject("test/plain", &plain);
  control->RegisterObject("test/console", &console);

  // The operator's side blocks on its requests: it runs on a thread of its
  // own while this one pumps, as the host's would.
  std::string error;
  auto client = ksn::RegistryClient::Connect(settings, &error);
  ASSERT_TRUE(client) << error;
  const std::string member = ksn::HexId(core.member());
  std::vector<ksn::PeerListing> peers;
  ksn::RegistryReply help, set, level, unsupported;
  std::atomic<bool> done{false};
  std::thread op([&] {
    peers = client->ListPeers(500);
    help = client->Get(member, "test/console", "help", 5000);
    set = client->Set(member, "test/console", "level", "6", 5000);
    level = client->Get(member, "test/console", "level", 5000);
    unsupported = client->Get(member, "test/plain", "anything", 5000);
    done = true;
  });
  ksn_test::PumpUntil([&] { return done.load(); }, 30000);
  op.join();

  ASSERT_EQ(peers.size(), 1u);
  EXPECT_EQ(peers[0].member, member);
  EXPECT_EQ(peers[0].objects, (std::vector<std::string>{"test/console", "test/plain",
                                                        "video/VideoConfManager", "ksn/control"}));
  EXPECT_TRUE(help.ok);
  EXPECT_EQ(help.text, "level\r\n");
  EXPECT_EQ(console.threads, std::vector<plat::DWORD>(3, plat::GetCurrentThreadId()));
  EXPECT_TRUE(set.ok);
  EXPECT_EQ(level.text, "6");
  EXPECT_FALSE(unsupported.ok);
  EXPECT_EQ(unsupported.code, 5013);
  EXPECT_EQ(unsupported.text, "unsupported");
  control->UnregisterObject("test/plain");
  control->UnregisterObject("test/console");
  manager.reset();
}

}  // namespace
