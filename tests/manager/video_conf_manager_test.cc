#include "manager/video_conf_manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "common/clock_stamp.h"
#include "common/debug_log.h"
#include "support/temp_dir.h"
#include "support/pump.h"
#include "support/log_lines.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kalo::video::VideoConfManager;
using kalo::video::VideoConfManagerSetup;
using vc_test::ReadLines;

// A manager made directly, with the fake peer-network library named by its
// full path and the log in a temporary directory.
class VideoConfManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    log_dir_ = temp_.path() / "logs";
    fs::create_directory(log_dir_);
    journal_ = temp_.path() / "journal.txt";
    setenv("FAKE_KSN_JOURNAL", journal_.c_str(), 1);
  }
  void TearDown() override {
    manager_.reset();
    COMM::g_debug_log.set_level(0);
    unsetenv("FAKE_KSN_JOURNAL");
  }

  void Make(const std::string& ksn_library) {
    VideoConfManagerSetup setup;
    setup.ksn_library = ksn_library;
    setup.log_dir = log_dir_.string();
    manager_ = std::make_unique<VideoConfManager>(setup);
  }
  // The library is nowhere to be found.
  void MakeWithoutLibrary() { Make((temp_.path() / "libKSNControlX.so").string()); }

  // The messages of the log, in order, without their prefixes.
  std::vector<std::string> LogMessages() const {
    return vc_test::ReadLogMessages(log_dir_ / "video_log.txt");
  }

  vc_test::TempDir temp_;
  fs::path log_dir_;
  fs::path journal_;
  std::unique_ptr<VideoConfManager> manager_;
};

// ---------------------------------------------------------------------------
// The peer-network library

// The module-level test cannot arrange absence where the build's own library
// lies on the search path; named by a path, the library is simply missing.
TEST_F(VideoConfManagerTest, WithoutTheLibraryTheManagerIsBuiltButNotReady) {
  MakeWithoutLibrary();
  EXPECT_FALSE(manager_->IsKSNReady());
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "c1", 0));
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{"[VideoConfManager::OpenVideoSession] cid=c1",
                                      "[VideoConfManager::OpenVideoSession] ksn not ready"}));
}

// ---------------------------------------------------------------------------
// The debug log

TEST_F(VideoConfManagerTest, StartGivesTheLogItsFileAndLevel) {
  MakeWithoutLibrary();
  EXPECT_EQ(COMM::g_debug_log.level(), 14u);
  EXPECT_EQ(COMM::g_debug_log.get_dir(), log_dir_.string());
  manager_->CloseVideo();
  const std::regex line(
      R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] file:video_conf_manager\.cc line: \d+\)<<<<\[VideoConfManager::CloseVideo\])"
      "\r\n");
  const std::string text = vc_test::ReadFile(log_dir_ / "video_log.txt");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST_F(VideoConfManagerTest, StartEmptiesALogOfAMillionBytes) {
  vc_test::TempDir other;
  const fs::path kept = other.path() / "video_log.txt";
  std::ofstream(kept, std::ios::binary) << std::string(999999, 'k');
  std::ofstream(log_dir_ / "video_log.txt", std::ios::binary) << std::string(1000000, 'e');

  MakeWithoutLibrary();
  EXPECT_EQ(fs::file_size(log_dir_ / "video_log.txt"), 0u);
  manager_.reset();

  VideoConfManagerSetup setup;
  setup.ksn_library = (temp_.path() / "absent.so").string();
  setup.log_dir = other.path().string();
  manager_ = std::make_unique<VideoConfManager>(setup);
  EXPECT_EQ(fs::file_size(kept), 999999u);
}

// ---------------------------------------------------------------------------
// Operations while there is no camera, preview or conference

TEST_F(VideoConfManagerTest, PauseVideoWritesItsLineThenCloseVideos) {
  MakeWithoutLibrary();
  manager_->PauseVideo(0);
  EXPECT_EQ(LogMessages(), (std::vector<std::string>{"[VideoConfManager::PauseVideo]",
                                                     "[VideoConfManager::CloseVideo]"}));
}

TEST_F(VideoConfManagerTest, ResumeVideoOnAFreshManagerChoosesTheNormalMode) {
  MakeWithoutLibrary();
  manager_->ResumeVideo(0);
  const std::vector<std::string> messages = LogMessages();
  ASSERT_GE(messages.size(), 2u);
  EXPECT_EQ(messages[0], "[VideoConfManager::ResumeVideo]");
  EXPECT_EQ(messages[1], "[VideoConfManager::SetToNormalVideo]");
}

TEST_F(VideoConfManagerTest, OpenVideoSessionChecksTheKindBeforeTheLibrary) {
  Make(FAKE_KSN_LIBRARY);
  const std::size_t built = ReadLines(journal_).size();
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "c2", 2));
  EXPECT_EQ(ReadLines(journal_).size(), built);  // IsReady was not asked
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{"[VideoConfManager::OpenVideoSession] cid=c2"}));
}

TEST_F(VideoConfManagerTest, CreateCidGivesAFreshLowerCaseUuid) {
  MakeWithoutLibrary();
  std::string first = "unchanged";
  std::string second;
  manager_->CreateCid(first);
  manager_->CreateCid(second);
  const std::regex uuid("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
  EXPECT_TRUE(std::regex_match(first, uuid)) << first;
  EXPECT_TRUE(std::regex_match(second, uuid)) << second;
  EXPECT_NE(first, second);
}

// ---------------------------------------------------------------------------
// The cached clock

TEST_F(VideoConfManagerTest, ClockIsReadAtStartAndRefreshedOnlyByTicks) {
  const ClockStamp before = ClockStamp::Now();
  MakeWithoutLibrary();
  const ClockStamp start = manager_->clock();
  EXPECT_GE(start.total_milliseconds(), before.total_milliseconds());
  EXPECT_EQ(start.reserved1, 0);
  EXPECT_EQ(start.reserved2, 0);

  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(manager_->clock(), start);  // nobody pumped
  vc_test::PumpFor(400ms);
  EXPECT_GT(manager_->clock().total_milliseconds(), start.total_milliseconds());
  EXPECT_LE(manager_->clock().total_milliseconds(), ClockStamp::Now().total_milliseconds());
}

}  // namespace
