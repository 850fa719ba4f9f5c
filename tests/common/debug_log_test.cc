#include "common/debug_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << std::string(size, 'x');
}

// Each case logs into its own temporary directory.
class DebugLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vc_debug_log_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    log_.set_dir(dir_.c_str());
    log_.set_name("video_log");
    log_.set_level(14);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path file() const { return dir_ / "video_log.txt"; }
  std::string Contents() const { return ReadFile(file()); }

  fs::path dir_;
  COMM::debug_log log_;
};

// ---------------------------------------------------------------------------
// Levels

TEST_F(DebugLogTest, WritesMessagesUpToTheLevel) {
  log_.log(14, "a.cc", 1, "fourteen");
  log_.log(15, "a.cc", 2, "fifteen");
  log_.set_level(6);
  log_.log(6, "a.cc", 3, "six");
  log_.log(8, "a.cc", 4, "eight");
  const std::string text = Contents();
  EXPECT_NE(text.find("fourteen"), std::string::npos);
  EXPECT_EQ(text.find("fifteen"), std::string::npos);
  EXPECT_NE(text.find("six"), std::string::npos);
  EXPECT_EQ(text.find("eight"), std::string::npos);
}

TEST_F(DebugLogTest, LevelZeroWritesNothingNotEvenTheFile) {
  log_.set_level(0);
  log_.log(1, "a.cc", 1, "one");
  EXPECT_FALSE(fs::exists(file()));
}

// ---------------------------------------------------------------------------
// The prefix

TEST_F(DebugLogTest, DefaultPrefixHasDateTimeFileAndLine) {
  log_.log(14, "/home/build/src/manager/video_conf_manager.cc", 42, "message %d", 7);
  const std::regex line(
      R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] file:video_conf_manager\.cc line: 42\)<<<<message 7)"
      "\r\n");
  const std::string text = Contents();
  EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST_F(DebugLogTest, MillisecondStampReplacesDateAndTime) {
  log_.set_flags(COMM::kLogMilliStamp);
  log_.log(14, "x.cc", 1, "m");
  const std::regex line(R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}:\d{3}\] file:x\.cc line: 1\)<<<<m)"
                        "\r\n");
  const std::string text = Contents();
  EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST_F(DebugLogTest, StampPartsFollowTheirBits) {
  log_.clear_flags(COMM::kLogTime);
  log_.log(14, "x.cc", 1, "a");
  log_.set_flags(COMM::kLogTime);
  log_.clear_flags(COMM::kLogDate);
  log_.log(14, "x.cc", 2, "b");
  log_.clear_flags(COMM::kLogTime);
  log_.log(14, "x.cc", 3, "c");
  const std::regex lines(R"(\[\d{4}-\d{2}-\d{2}\] file:x\.cc line: 1\)<<<<a)"
                         "\r\n"
                         R"(\[\d{2}:\d{2}:\d{2}\] file:x\.cc line: 2\)<<<<b)"
                         "\r\n"
                         R"( file:x\.cc line: 3\)<<<<c)"
                         "\r\n");
  const std::string text = Contents();
  EXPECT_TRUE(std::regex_match(text, lines)) << text;
}

TEST_F(DebugLogTest, WithoutFileAndLineOnlyTheMarkersRemain) {
  log_.clear_flags(COMM::kLogDefaultFlags);
  log_.log(14, "x.cc", 1, "bare");
  EXPECT_EQ(Contents(), ")<<<<bare\r\n");
}

TEST_F(DebugLogTest, FileIsTheBaseNameAfterEitherSeparator) {
  log_.clear_flags(COMM::kLogDate | COMM::kLogTime | COMM::kLogLine);
  log_.log(14, "c:\\src\\manager\\win.cc", 1, "a");
  log_.log(14, "src/mixed\\path/unix.cc", 1, "b");
  log_.log(14, "plain.cc", 1, "c");
  EXPECT_EQ(Contents(),
            " file:win.cc)<<<<a\r\n"
            " file:unix.cc)<<<<b\r\n"
            " file:plain.cc)<<<<c\r\n");
}

TEST_F(DebugLogTest, ErrorSuffixEndsTheLineBeforeTheMessage) {
  log_.clear_flags(COMM::kLogDefaultFlags);
  log_.set_flags(COMM::kLogErrno);
  errno = ENOENT;
  log_.log(14, "x.cc", 1, "number");
  EXPECT_EQ(errno, ENOENT);  // the caller's error survives the call
  log_.set_flags(COMM::kLogErrnoText);
  errno = ENOENT;
  log_.log(14, "x.cc", 1, "text");
  EXPECT_EQ(Contents(),
            ") {2}\r\n<<<<number\r\n"
            ") {2:No such file or directory}\r\n<<<<text\r\n");
}

// ---------------------------------------------------------------------------
// The message

TEST_F(DebugLogTest, LongMessageIsCutTo2047CharactersAndKeepsItsLineEnd) {
  log_.clear_flags(COMM::kLogDefaultFlags);
  const std::string longer(3000, 'y');
  log_.log(14, "x.cc", 1, "%s", longer.c_str());
  const std::string exact(2047, 'z');
  log_.log(14, "x.cc", 1, "%s", exact.c_str());
  EXPECT_EQ(Contents(), ")<<<<" + std::string(2047, 'y') + "\r\n)<<<<" + exact + "\r\n");
}

TEST_F(DebugLogTest, NullSourceOrFormatWritesNothing) {
  log_.log(14, nullptr, 1, "no file");
  const char* no_format = nullptr;
  log_.log(14, "x.cc", 1, no_format, 0);
  EXPECT_FALSE(fs::exists(file()));
}

// ---------------------------------------------------------------------------
// Where the lines go

TEST_F(DebugLogTest, NothingIsWrittenWithoutAName) {
  COMM::debug_log unnamed;
  unnamed.set_dir(dir_.c_str());
  unnamed.set_level(14);
  unnamed.log(1, "x.cc", 1, "lost");
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(DebugLogTest, MissingOrUnwritableDirectoryDropsTheMessage) {
  const fs::path missing = dir_ / "missing" / "logs";
  log_.set_dir(missing.c_str());
  log_.log(1, "x.cc", 1, "lost");
  EXPECT_FALSE(fs::exists(missing));

  // A file where the directory should be.
  const fs::path blocked = dir_ / "blocked";
  std::ofstream(blocked) << "";
  log_.set_dir(blocked.c_str());
  log_.log(1, "x.cc", 1, "lost");
  EXPECT_EQ(ReadFile(blocked), "");
}

TEST_F(DebugLogTest, OverlongPathDropsTheMessageRatherThanWritingElsewhere) {
  const std::string deep = dir_.string() + "/" + std::string(5000, 'd');
  log_.set_dir(deep.c_str());
  log_.log(1, "x.cc", 1, "lost");
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(DebugLogTest, EmptyDirectoryMeansTheCurrentDirectory) {
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  COMM::debug_log here;
  here.set_name("here");
  here.set_level(14);
  here.log(14, "x.cc", 1, "cwd");
  fs::current_path(before);
  EXPECT_NE(ReadFile(dir_ / "here.txt").find("cwd\r\n"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Descriptor mode

TEST_F(DebugLogTest, DescriptorModeWritesToTheDescriptor) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  log_.set_fd(fds[1]);
  EXPECT_EQ(log_.get_dir(), nullptr);
  EXPECT_EQ(log_.get_fd(), fds[1]);
  log_.clear_flags(COMM::kLogDefaultFlags);
  log_.log(14, "x.cc", 1, "to pipe");
  close(fds[1]);
  char buffer[64] = {};
  const ssize_t n = read(fds[0], buffer, sizeof buffer);
  close(fds[0]);
  EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), ")<<<<to pipe\r\n");
  EXPECT_FALSE(fs::exists(file()));
}

TEST_F(DebugLogTest, SetDirEndsDescriptorModeAndTheNameMustBeGivenAgain) {
  log_.set_fd(2);
  ASSERT_EQ(log_.get_fd(), 2);
  log_.set_dir(dir_.c_str());
  EXPECT_EQ(log_.get_fd(), -1);
  EXPECT_STREQ(log_.get_dir(), dir_.c_str());
  log_.log(1, "x.cc", 1, "nameless");  // set_fd forgot the name
  EXPECT_FALSE(fs::exists(file()));
  log_.set_name("video_log");
  log_.log(1, "x.cc", 1, "named");
  EXPECT_NE(Contents().find("named"), std::string::npos);
}

TEST_F(DebugLogTest, NegativeDescriptorAndModeBitsChangeNothing) {
  log_.set_fd(-1);
  EXPECT_EQ(log_.get_fd(), -1);
  EXPECT_STREQ(log_.get_dir(), dir_.c_str());
  log_.set_flags(COMM::kLogDescriptor);
  EXPECT_EQ(log_.flags(), COMM::kLogDefaultFlags);
  log_.set_fd(2);
  log_.clear_flags(COMM::kLogDescriptor | COMM::kLogFile);  // 264
  EXPECT_EQ(log_.get_fd(), 2);
  EXPECT_EQ(log_.flags(), COMM::kLogDefaultFlags | COMM::kLogDescriptor);
}

// ---------------------------------------------------------------------------
// Trimming at start

TEST_F(DebugLogTest, TrimLeavesAFileJustBelowTheLimit) {
  WriteBytes(file(), 999999);
  log_.trim();
  EXPECT_EQ(fs::file_size(file()), 999999u);
}

TEST_F(DebugLogTest, TrimEmptiesAFileAtTheLimitOrAbove) {
  WriteBytes(file(), 1000000);
  log_.trim();
  EXPECT_EQ(fs::file_size(file()), 0u);
  WriteBytes(file(), 1500000);
  log_.trim();
  EXPECT_EQ(fs::file_size(file()), 0u);
}

TEST_F(DebugLogTest, TrimCreatesAMissingFileAndNeedsAName) {
  log_.trim();
  EXPECT_TRUE(fs::exists(file()));
  COMM::debug_log unnamed;
  unnamed.set_dir(dir_.c_str());
  unnamed.trim();
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

// ---------------------------------------------------------------------------
// The log directory

TEST_F(DebugLogTest, LogDirectoryIsCreatedBesideTheExecutable) {
  fs::create_directories(dir_ / "bin");
  const std::string dir = COMM::MakeLogDirectory((dir_ / "bin" / "host").string());
  EXPECT_EQ(dir, (dir_ / "bin" / "logs").string());
  EXPECT_TRUE(fs::is_directory(dir));
  // Already there: the same answer.
  EXPECT_EQ(COMM::MakeLogDirectory((dir_ / "bin" / "host").string()), dir);
}

TEST_F(DebugLogTest, LogDirectoryIsCreatedOneLevelOnly) {
  const std::string dir = COMM::MakeLogDirectory((dir_ / "gone" / "bin" / "host").string());
  EXPECT_EQ(dir, (dir_ / "gone" / "bin" / "logs").string());
  EXPECT_FALSE(fs::exists(dir_ / "gone"));
  log_.set_dir(dir.c_str());
  log_.log(1, "x.cc", 1, "dropped");  // and nothing breaks
  EXPECT_FALSE(fs::exists(dir_ / "gone"));
}

// ---------------------------------------------------------------------------
// The module's log and its macro

int Evaluations(int* count) {
  return ++*count;
}

TEST_F(DebugLogTest, MacroSkipsFormattingAboveTheLevel) {
  COMM::g_debug_log.set_dir(dir_.c_str());
  COMM::g_debug_log.set_name("global");
  COMM::g_debug_log.set_level(8);
  int count = 0;
  DEBUG_LOG(14, "%d", Evaluations(&count));
  EXPECT_EQ(count, 0);
  DEBUG_LOG(8, "value=%d", Evaluations(&count));
  EXPECT_EQ(count, 1);
  COMM::g_debug_log.set_level(0);
  const std::string text = ReadFile(dir_ / "global.txt");
  EXPECT_NE(text.find(" file:debug_log_test.cc line: "), std::string::npos) << text;
  EXPECT_NE(text.find(")<<<<value=1\r\n"), std::string::npos) << text;
}

}  // namespace
