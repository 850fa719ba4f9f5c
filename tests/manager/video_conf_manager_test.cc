// A manager made directly, without the peer-network library (named by a
// path that holds none) and with its log in a temporary directory.
#include "manager/video_conf_manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "common/debug_log.h"
#include "support/log_lines.h"
#include "support/manual_clock.h"
#include "support/pump.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kalo::video::VideoConfManager;

class VideoConfManagerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    manager_.reset();
    COMM::g_debug_log.set_level(0);
  }
  void Make(const fs::path& log_dir) {
    manager_.reset();
    kalo::video::VideoConfManagerSetup setup;
    setup.ksn_library = (temp_.path() / "libKSNControlX.so").string();
    setup.log_dir = log_dir.string();
    setup.clock = clock_;
    manager_ = std::make_unique<VideoConfManager>(setup);
  }

  vc_test::TempDir temp_;
  std::shared_ptr<vc_test::ManualClock> clock_ = std::make_shared<vc_test::ManualClock>();
  std::unique_ptr<VideoConfManager> manager_;
};

// The module-level test cannot arrange absence where the build's own library
// lies on the search path; named by a path, the library is simply missing.
TEST_F(VideoConfManagerTest, WithoutTheLibraryTheManagerIsBuiltButNotReady) {
  Make(temp_.path());
  EXPECT_FALSE(manager_->IsKSNReady());
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "c1", 0));
  EXPECT_EQ(vc_test::ReadLogMessages(temp_.path() / "video_log.txt"),
            (std::vector<std::string>{"[VideoConfManager::OpenVideoSession] cid=c1",
                                      "[VideoConfManager::OpenVideoSession] ksn not ready"}));
}

// Its file, its level and its record format; a log of a million bytes is
// emptied at start, one byte less is kept.
TEST_F(VideoConfManagerTest, StartGivesTheLogItsFileAndLevelAndTrimsIt) {
  vc_test::TempDir other;
  std::ofstream(other.path() / "video_log.txt", std::ios::binary) << std::string(999999, 'k');
  std::ofstream(temp_.path() / "video_log.txt", std::ios::binary) << std::string(1000000, 'e');
  Make(other.path());
  EXPECT_EQ(fs::file_size(other.path() / "video_log.txt"), 999999u);
  Make(temp_.path());
  EXPECT_EQ(COMM::g_debug_log.level(), 14u);
  EXPECT_EQ(COMM::g_debug_log.get_dir(), temp_.path().string());
  manager_->CloseVideo();
  const std::regex line(
      R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] file:video_conf_manager\.cc line: \d+\)<<<<\[VideoConfManager::CloseVideo\])"
      "\r\n");
  const std::string text = vc_test::ReadFile(temp_.path() / "video_log.txt");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST_F(VideoConfManagerTest, CreateCidGivesAFreshLowerCaseUuid) {
  Make(temp_.path());
  std::string first = "unchanged";
  std::string second;
  manager_->CreateCid(first);
  manager_->CreateCid(second);
  const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
  EXPECT_TRUE(std::regex_match(first, uuid)) << first;
  EXPECT_TRUE(std::regex_match(second, uuid)) << second;
  EXPECT_NE(first, second);
}

TEST_F(VideoConfManagerTest, ClockIsReadAtStartAndRefreshedOnlyByTicks) {
  Make(temp_.path());
  const ClockStamp start = clock_->Now();
  EXPECT_EQ(manager_->clock(), start);
  clock_->Advance(1500ms);
  EXPECT_EQ(manager_->clock(), start);  // nobody pumped
  EXPECT_TRUE(vc_test::PumpUntil([&] { return manager_->clock() == clock_->Now(); }, 5s));
}

}  // namespace
