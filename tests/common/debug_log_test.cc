// The debug log: its prefixes, levels, where lines go (or are dropped),
// descriptor mode, trimming at start and the log directory.
#include "common/debug_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using vc_test::ReadFile;
constexpr std::uint32_t kCallerFlags = COMM::kLogDescriptor - 1;  // all but the mode

class DebugLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_.set_dir(dir_.path().c_str());
    log_.set_name("video_log");
    log_.set_level(14);
  }

  fs::path file() const { return dir_.path() / "video_log.txt"; }
  std::string Contents() const { return ReadFile(file()); }

  vc_test::TempDir dir_;
  COMM::debug_log log_;
};

struct PrefixCase {
  const char* name;
  std::uint32_t flags;
  const char* source;
  std::string line;  // the whole record, as a pattern
};

TEST_F(DebugLogTest, PrefixPartsFollowTheirFlags) {
  const std::string d = R"(\d{4}-\d{2}-\d{2})";  // date
  const std::string t = R"(\d{2}:\d{2}:\d{2})";  // time
  const std::vector<PrefixCase> cases = {
      {"the default", COMM::kLogDefaultFlags, "/home/build/src/manager/video_conf_manager.cc",
       "\\[" + d + " " + t + R"(\] file:video_conf_manager\.cc line: 42\)<<<<m)"},
      {"milliseconds win over date and time", COMM::kLogDefaultFlags | COMM::kLogMilliStamp, "x.cc",
       "\\[" + d + " " + t + R"(:\d{3}\] file:x\.cc line: 42\)<<<<m)"},
      {"date only", COMM::kLogDate | COMM::kLogLine, "x.cc", "\\[" + d + R"(\] line: 42\)<<<<m)"},
      {"time only", COMM::kLogTime | COMM::kLogFile, "x.cc", "\\[" + t + R"(\] file:x\.cc\)<<<<m)"},
      {"bare", 0, "x.cc", R"(\)<<<<m)"},
      {"a Windows path", COMM::kLogFile, "c:\\src\\manager\\win.cc", R"( file:win\.cc\)<<<<m)"},
      {"mixed separators", COMM::kLogFile, "src/mixed\\path/unix.cc", R"( file:unix\.cc\)<<<<m)"},
      {"its text wins over the number", COMM::kLogErrno | COMM::kLogErrnoText, "x.cc",
       "\\) \\{2:No such file or directory\\}\r\n<<<<m"},
  };
  for (const PrefixCase& c : cases) {
    SCOPED_TRACE(c.name);
    log_.clear_flags(kCallerFlags);
    log_.set_flags(c.flags);
    errno = ENOENT;
    log_.log(14, c.source, 42, "%s", "m");
    EXPECT_EQ(errno, ENOENT);  // the caller's error survives the call
    const std::string text = Contents();
    EXPECT_TRUE(std::regex_match(text, std::regex(c.line + "\r\n"))) << text;
    fs::remove(file());
  }
}

TEST_F(DebugLogTest, WritesMessagesUpToTheLevelAndCutsLongOnes) {
  log_.clear_flags(COMM::kLogDefaultFlags);
  log_.log(14, "a.cc", 1, "fourteen");
  log_.log(15, "a.cc", 2, "fifteen");
  log_.set_level(6);
  log_.log(6, "a.cc", 3, "six");
  log_.log(8, "a.cc", 4, "eight");
  log_.log(6, "x.cc", 1, "%s", std::string(3000, 'y').c_str());
  log_.log(6, "x.cc", 1, "%s", std::string(2047, 'z').c_str());
  EXPECT_EQ(Contents(), ")<<<<fourteen\r\n)<<<<six\r\n)<<<<" + std::string(2047, 'y') +
                            "\r\n)<<<<" + std::string(2047, 'z') + "\r\n");
}

// Each leaves the directory as it was: only an empty file named "blocked".
TEST_F(DebugLogTest, WhatCannotBeWrittenWhereItBelongsIsDropped) {
  const std::string dir = dir_.path().string();
  std::ofstream(dir + "/blocked") << "";
  log_.log(14, nullptr, 1, "no source file");
  const char* no_format = nullptr;
  log_.log(14, "x.cc", 1, no_format, 0);
  log_.set_level(0);
  log_.log(1, "x.cc", 1, "level zero");
  COMM::debug_log unnamed;
  unnamed.set_dir(dir.c_str());
  unnamed.set_level(14);
  unnamed.log(1, "x.cc", 1, "no name");
  unnamed.trim();
  log_.set_level(14);
  for (const std::string& bad :
       {dir + "/missing/logs", dir + "/blocked", dir + "/" + std::string(5000, 'd')}) {
    log_.set_dir(bad.c_str());
    log_.log(1, "x.cc", 1, "lost");
  }
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.insert(entry.path().filename().string());
  EXPECT_EQ(names, std::set<std::string>{"blocked"});
  EXPECT_EQ(ReadFile(dir + "/blocked"), "");
}

TEST_F(DebugLogTest, DescriptorModeWritesToTheDescriptorUntilADirectoryIsSet) {
  log_.set_fd(-1);                       // no descriptor: nothing changes
  log_.set_flags(COMM::kLogDescriptor);  // the mode is no flag of the caller's
  EXPECT_EQ(log_.flags(), COMM::kLogDefaultFlags);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  log_.set_fd(fds[1]);
  log_.clear_flags(COMM::kLogDefaultFlags | COMM::kLogDescriptor);  // the mode: refused
  EXPECT_EQ(log_.flags(), COMM::kLogDefaultFlags | COMM::kLogDescriptor);
  log_.clear_flags(COMM::kLogDefaultFlags);
  log_.log(14, "x.cc", 1, "to pipe");
  char buffer[64] = {};
  const ssize_t n = read(fds[0], buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), ")<<<<to pipe\r\n");
  EXPECT_FALSE(fs::exists(file()));
  log_.set_dir(dir_.path().c_str());
  log_.set_name("video_log");
  log_.log(1, "x.cc", 1, "named");
  EXPECT_EQ(log_.get_fd(), -1);
  EXPECT_EQ(Contents(), ")<<<<named\r\n");
  for (const int fd : fds)
    close(fd);
}

TEST_F(DebugLogTest, TrimEmptiesAFileAtTheLimitOrAbove) {
  for (const auto& [size, after] :
       {std::pair<std::size_t, std::uintmax_t>{999999, 999999}, {1000000, 0}, {1500000, 0}}) {
    std::ofstream(file(), std::ios::binary | std::ios::trunc) << std::string(size, 'x');
    log_.trim();
    EXPECT_EQ(fs::file_size(file()), after) << size;
  }
}

TEST_F(DebugLogTest, TheLogDirectoryIsMadeBesideTheExecutableOneLevelOnly) {
  fs::create_directories(dir_.path() / "bin");
  const std::string host = (dir_.path() / "bin" / "host").string();
  const std::string dir = COMM::MakeLogDirectory(host);
  EXPECT_EQ(dir, (dir_.path() / "bin" / "logs").string());
  EXPECT_TRUE(fs::is_directory(dir));
  EXPECT_EQ(COMM::MakeLogDirectory(host), dir);  // already there: the same answer
  EXPECT_EQ(COMM::MakeLogDirectory((dir_.path() / "gone" / "host").string()),
            (dir_.path() / "gone" / "logs").string());
  EXPECT_FALSE(fs::exists(dir_.path() / "gone"));  // one level only
}

TEST_F(DebugLogTest, TheModulesMacroSkipsFormattingAboveTheLevel) {
  COMM::g_debug_log.set_dir(dir_.path().c_str());
  COMM::g_debug_log.set_name("global");
  COMM::g_debug_log.set_level(8);
  int count = 0;
  DEBUG_LOG(14, "%d", ++count);
  DEBUG_LOG(8, "value=%d", ++count);
  COMM::g_debug_log.set_level(0);
  EXPECT_EQ(count, 1);
}

}  // namespace
