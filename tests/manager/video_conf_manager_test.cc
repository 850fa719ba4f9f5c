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
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using kalo::video::VideoConfManager;
using kalo::video::VideoConfManagerSetup;
using vc_test::ReadJournal;

std::string DirectoryOf(const std::string& path) {
  return path.substr(0, path.rfind('/'));
}

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
    const std::string text = vc_test::ReadFile(log_dir_ / "video_log.txt");
    std::vector<std::string> messages;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      const std::string line = text.substr(start, end - start);
      const auto marker = line.find("<<<<");
      messages.push_back(marker == std::string::npos ? line : line.substr(marker + 4));
    }
    return messages;
  }

  vc_test::TempDir temp_;
  fs::path log_dir_;
  fs::path journal_;
  std::unique_ptr<VideoConfManager> manager_;
};

// ---------------------------------------------------------------------------
// The peer-network library

TEST_F(VideoConfManagerTest, RegistersOnlyAfterTheControlObjectIsMade) {
  Make(FAKE_KSN_LIBRARY);
  EXPECT_EQ(ReadJournal(journal_),
            (std::vector<std::string>{"load from " + DirectoryOf(FAKE_KSN_LIBRARY), "create",
                                      "register video/VideoConfManager"}));
  EXPECT_TRUE(manager_->IsKSNReady());
}

TEST_F(VideoConfManagerTest, TearDownUnregistersFirstAndReleasesBeforeUnloading) {
  Make(FAKE_KSN_LIBRARY);
  const std::size_t built = ReadJournal(journal_).size();
  manager_.reset();
  const std::vector<std::string> events = ReadJournal(journal_);
  ASSERT_GE(events.size(), built);
  EXPECT_EQ(std::vector<std::string>(events.begin() + built, events.end()),
            (std::vector<std::string>{"unregister video/VideoConfManager", "release", "unload"}));
}

TEST_F(VideoConfManagerTest, WithoutTheLibraryTheManagerIsBuiltButNotReady) {
  MakeWithoutLibrary();
  EXPECT_FALSE(manager_->IsKSNReady());
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "c1", 0));
  EXPECT_EQ(LogMessages(),
            (std::vector<std::string>{"[VideoConfManager::OpenVideoSession] cid=c1",
                                      "[VideoConfManager::OpenVideoSession] ksn not ready"}));
  manager_.reset();
  EXPECT_FALSE(fs::exists(journal_));
}

TEST_F(VideoConfManagerTest, WithoutTheExportNoControlObjectIsEverTouched) {
  Make(FAKE_KSN_LIBRARY_WITHOUT_CREATE);
  EXPECT_FALSE(manager_->IsKSNReady());
  manager_.reset();
  EXPECT_EQ(ReadJournal(journal_),
            (std::vector<std::string>{"load from " + DirectoryOf(FAKE_KSN_LIBRARY_WITHOUT_CREATE),
                                      "unload"}));
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
  const std::size_t built = ReadJournal(journal_).size();
  EXPECT_FALSE(manager_->OpenVideoSession(0, 0, "c2", 2));
  EXPECT_EQ(ReadJournal(journal_).size(), built);  // IsReady was not asked
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
