// The diagnostic registry over NATS request/reply, answered by the real
// manager and by a plain object, each on the thread that registered it.
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

// Keeps the defaults (Get and Set unsupported), noting the thread it is asked on.
class PlainObject : public ksn::object {
 public:
  std::string Get(const char* key) override {
    thread = plat::GetCurrentThreadId();
    return ksn::object::Get(key);
  }
  plat::DWORD thread = 0;
};

TEST(KsnRegistryTest, ManagerAnswersHelpAndTakesASetOverNatsOnItsOwnThread) {
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
  control->RegisterObject("test/plain", &plain);

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
    help = client->Get(member, "video/VideoConfManager", "help", 5000);
    set = client->Set(member, "video/VideoConfManager", "log_level", "6", 5000);
    level = client->Get(member, "video/VideoConfManager", "log_level", 5000);
    unsupported = client->Get(member, "test/plain", "anything", 5000);
    done = true;
  });
  ksn_test::PumpUntil([&] { return done.load(); }, 30000);
  op.join();

  ASSERT_EQ(peers.size(), 1u);
  EXPECT_EQ(peers[0].member, member);
  EXPECT_EQ(peers[0].objects,
            (std::vector<std::string>{"test/plain", "video/VideoConfManager", "ksn/control"}));
  EXPECT_TRUE(help.ok);
  EXPECT_EQ(help.text,
            "log_level\r\nvideo_cap_driver\r\nvideo_opened\r\nvideo_type\r\nout_bw_valve\r\n"
            "session_list\r\n");
  EXPECT_TRUE(set.ok);
  EXPECT_EQ(level.text, "6");
  EXPECT_FALSE(unsupported.ok);
  EXPECT_EQ(unsupported.code, 5013);
  EXPECT_EQ(unsupported.text, "unsupported");
  EXPECT_EQ(plain.thread, plat::GetCurrentThreadId());
  control->UnregisterObject("test/plain");
  manager.reset();
}

}  // namespace
