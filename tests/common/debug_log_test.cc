// The debug log: prefixes, levels, where lines go, its cap, folded repeats.
// Trimming at start and the log directory are the manager's tests'.
#include "common/debug_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using vc_test::ReadFile;

class DebugLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_.set_dir(dir_.path().c_str());
    log_.set_name("video_log");
    log_.set_level(14);
  }
  fs::path file() const { return dir_.path() / "video_log.txt"; }
  std::string Contents() const { return ReadFile(file()); }
  std::size_t Files() const {
    return std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator());
  }

  vc_test::TempDir dir_;
  COMM::debug_log log_;
};

TEST_F(DebugLogTest, PrefixPartsFollowTheirFlags) {
  const std::string d = R"(\d{4}-\d{2}-\d{2})", t = R"(\d{2}:\d{2}:\d{2})";
  struct Case {
    std::uint32_t flags;
    const char* source;
    std::string line;  // the whole record, as a pattern
  };
  const std::vector<Case> cases = {
      {COMM::kLogDefaultFlags, "/home/build/src/manager/video_conf_manager.cc",
       "\\[" + d + " " + t + R"(\] file:video_conf_manager\.cc line: 42\)<<<<m)"},
      {COMM::kLogDefaultFlags | COMM::kLogMilliStamp, "c:\\src\\win.cc",  // milliseconds win
       "\\[" + d + " " + t + R"(:\d{3}\] file:win\.cc line: 42\)<<<<m)"},
      {COMM::kLogErrno | COMM::kLogErrnoText, "x.cc",  // the text wins over the number
       "\\) \\{2:No such file or directory\\}\r\n<<<<m"},
  };
  for (const Case& c : cases) {
    log_.clear_flags(COMM::kLogDescriptor - 1);
    log_.set_flags(c.flags);
    errno = ENOENT;
    log_.log(14, c.source, 42, "%s", "m");
    EXPECT_EQ(errno, ENOENT);  // the caller's error survives the call
    EXPECT_TRUE(std::regex_match(Contents(), std::regex(c.line + "\r\n"))) << Contents();
    fs::remove(file());
  }
}

TEST_F(DebugLogTest, WritesMessagesUpToTheLevelAndCutsLongOnes) {
  log_.clear_flags(COMM::kLogDefaultFlags);
  log_.log(14, "a.cc", 1, "fourteen");
  log_.log(15, "a.cc", 2, "fifteen");
  log_.set_level(6);
  log_.log(8, "a.cc", 4, "eight");
  log_.log(6, "x.cc", 1, "%s", std::string(3000, 'y').c_str());
  EXPECT_EQ(Contents(), ")<<<<fourteen\r\n)<<<<" + std::string(2047, 'y') + "\r\n");

  COMM::g_debug_log.set_level(8);
  int count = 0;
  DEBUG_LOG(14, "%d", ++count);  // not even formatted
  DEBUG_LOG(8, "value=%d", ++count);
  COMM::g_debug_log.set_level(0);
  EXPECT_EQ(count, 1);
}

// Each leaves the directory as it was: only an empty file named "blocked".
TEST_F(DebugLogTest, WhatCannotBeWrittenWhereItBelongsIsDropped) {
  const std::string dir = dir_.path().string();
  std::ofstream(dir + "/blocked") << "";
  log_.log(14, nullptr, 1, "no source file");
  const char* no_format = nullptr;
  log_.log(14, "x.cc", 1, no_format, 0);
  COMM::debug_log unnamed;
  unnamed.set_dir(dir.c_str());
  unnamed.set_level(14);
  unnamed.log(1, "x.cc", 1, "no name");
  unnamed.trim();
  for (const std::string& bad :
       {dir + "/missing/logs", dir + "/blocked", dir + "/" + std::string(5000, 'd')}) {
    log_.set_dir(bad.c_str());
    log_.log(1, "x.cc", 1, "lost %s", bad.c_str());
  }
  EXPECT_EQ(Files(), 1u);
  EXPECT_EQ(ReadFile(dir + "/blocked"), "");
}

TEST_F(DebugLogTest, DescriptorModeWritesToTheDescriptorUntilADirectoryIsSet) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
  log_.set_fd(-1);                       // no descriptor: nothing changes
  log_.set_flags(COMM::kLogDescriptor);  // the mode is no flag of the caller's
  log_.set_fd(fds[1]);
  log_.clear_flags(COMM::kLogDefaultFlags | COMM::kLogDescriptor);  // refused whole
  EXPECT_EQ(log_.flags(), COMM::kLogDefaultFlags | COMM::kLogDescriptor);
  log_.clear_flags(COMM::kLogDefaultFlags);
  log_.log(14, "x.cc", 1, "to pipe");
  char buffer[64] = {};
  EXPECT_EQ(read(fds[0], buffer, sizeof buffer), 14) << buffer;
  log_.set_dir(dir_.path().c_str());
  EXPECT_EQ(log_.get_fd(), -1);
  for (const int fd : fds)
    close(fd);
}

// The file and its one older copy each stay within the cap, however much is
// written; a record repeated in a row takes two lines and a count.
TEST_F(DebugLogTest, StopsAtItsCapWithOneRotationAndFoldsRepeats) {
  log_.clear_flags(COMM::kLogDefaultFlags);  // 17 bytes a record
  log_.set_max_size(1000);
  for (int i = 0; i < 200; ++i)
    log_.log(14, "x.cc", 1, "record %03d", i);
  for (int i = 0; i < 5; ++i)
    log_.log(14, "x.cc", 1, "again");
  log_.log(14, "x.cc", 2, "again");  // another place: another record
  const std::string older = ReadFile(file().string() + ".1");
  EXPECT_EQ(older.size(), 986u);  // records 116 to 173
  EXPECT_EQ(older.substr(0, 17), ")<<<<record 116\r\n");
  std::string newer;
  for (int i = 174; i < 200; ++i)
    newer += ")<<<<record " + std::to_string(i) + "\r\n";
  EXPECT_EQ(
      Contents(),
      newer + ")<<<<again\r\n)<<<<again\r\n)<<<<last message repeated 3 times\r\n)<<<<again\r\n");
  EXPECT_EQ(Files(), 2u);

  setenv(COMM::kLogMaxSizeVariable, "4096", 1);
  EXPECT_EQ(COMM::LogMaxSizeFromEnvironment(), 4096u);
  setenv(COMM::kLogMaxSizeVariable, "12k", 1);  // not a number: the default
  EXPECT_EQ(COMM::LogMaxSizeFromEnvironment(), COMM::kLogDefaultMaxSize);
  unsetenv(COMM::kLogMaxSizeVariable);
}

}  // namespace
