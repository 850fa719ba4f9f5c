#include "record/avi_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "test_frames.h"

namespace {

namespace fs = std::filesystem;

std::string Shell(const std::string& command, int* status = nullptr) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  char buffer[65536];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
    out.append(buffer, n);
  }
  const int result = pclose(pipe);
  if (status != nullptr) {
    *status = result;
  }
  return out;
}

// What ffprobe makes of the video stream, key by key.
std::map<std::string, std::string> Probe(const fs::path& file) {
  std::map<std::string, std::string> info;
  const std::string text = Shell(
      "ffprobe -v error -count_frames -show_entries "
      "stream=codec_name,width,height,nb_read_frames:format=nb_streams,"
      "duration -of default=nw=1 '" +
      file.string() + "'");
  for (std::size_t at = 0, eol; (eol = text.find('\n', at)) != std::string::npos; at = eol + 1) {
    const std::size_t eq = text.find('=', at);
    info[text.substr(at, eq - at)] = text.substr(eq + 1, eol - eq - 1);
  }
  return info;
}

// True when ffmpeg gives back frames 0.. exactly, at least `frames` of them.
::testing::AssertionResult PlaysBack(const fs::path& file, int width, int height, int frames) {
  const std::string shown =
      Shell("ffmpeg -v error -i '" + file.string() + "' -f rawvideo -pix_fmt bgr24 -");
  const std::size_t size = static_cast<std::size_t>(width) * height * 3;
  if (shown.size() % size != 0 || shown.size() / size < static_cast<std::size_t>(frames)) {
    return ::testing::AssertionFailure() << shown.size() << " bytes decoded";
  }
  for (std::size_t n = 0; n < shown.size() / size; ++n) {
    if (shown.compare(n * size, size, ShownFrame(width, height, static_cast<int>(n))) != 0) {
      return ::testing::AssertionFailure() << "frame " << n << " differs";
    }
  }
  return ::testing::AssertionSuccess();
}

bool GstPlays(const fs::path& file) {
  int status = -1;
  Shell("gst-launch-1.0 -q filesrc location='" + file.string() + "' ! avidemux ! fakesink",
        &status);
  return status == 0;
}

struct Owner : RecordOwner {
  void OnRecordSecondsLeft(std::int32_t seconds) override { told.push_back(seconds); }
  std::vector<std::int32_t> told;
};

class AviFileTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_); }
  void TearDown() override { fs::remove_all(dir_); }
  // Records `frames` test frames; returns how many WriteFrame took with true.
  int Record(CAVIFile& avi, int width, int height, int frames) {
    int accepted = 0;
    for (int n = 0; n < frames; ++n) {
      accepted += avi.WriteFrame(TestFrame(width, height, n).data(), width, height) ? 1 : 0;
    }
    return accepted;
  }
  const fs::path dir_ = fs::temp_directory_path() / ("avi_test_" + std::to_string(getpid()));
};

TEST_F(AviFileTest, PlayersReadTheExactPixelsOfAnOddSizedClip) {
  const fs::path clip = dir_ / "clip.avi";
  {
    CAVIFile avi(clip.string(), 37, 23, 60);
    EXPECT_EQ(Record(avi, 37, 23, 12), 12);
  }
  const auto info = Probe(clip);
  EXPECT_EQ(info.at("nb_streams"), "1");
  EXPECT_EQ(info.at("codec_name"), "rawvideo");
  EXPECT_EQ(info.at("width") + "x" + info.at("height"), "37x23");
  EXPECT_EQ(info.at("nb_read_frames"), "12");
  EXPECT_NEAR(std::stod(info.at("duration")), 12 * 10 / 70.0, 1e-3);
  EXPECT_TRUE(PlaysBack(clip, 37, 23, 12));
  EXPECT_TRUE(GstPlays(clip));
}

TEST_F(AviFileTest, TheSecondsLimitEndsAfterItsLastFrame) {
  Owner owner;
  {
    CAVIFile avi((dir_ / "ten.avi").string(), 16, 8, 10);
    avi.SetOwner(&owner);
    EXPECT_EQ(Record(avi, 16, 8, 70), 69);  // the 70th is written and ends it
    EXPECT_FALSE(avi.IsOpen());
    EXPECT_FALSE(avi.WriteFrame(TestFrame(16, 8, 70).data(), 16, 8));
  }
  EXPECT_EQ(owner.told, (std::vector<std::int32_t>{9, 8, 7, 6, 5, 4, 3, 2, 1, 0}));
  EXPECT_EQ(Probe(dir_ / "ten.avi").at("nb_read_frames"), "70");
  EXPECT_NEAR(std::stod(Probe(dir_ / "ten.avi").at("duration")), 10.0, 1e-3);
  {
    CAVIFile avi((dir_ / "zero.avi").string(), 16, 8, 0);
    EXPECT_EQ(Record(avi, 16, 8, 3), 0);
  }
  EXPECT_EQ(Probe(dir_ / "zero.avi").at("nb_read_frames"), "1");
}

TEST_F(AviFileTest, EveryEndOfARecordingLeavesACompleteFileOrNone) {
  { CAVIFile avi((dir_ / "none.avi").string(), 16, 8, 10); }
  EXPECT_FALSE(fs::exists(dir_ / "none.avi"));
  {
    CAVIFile avi((dir_ / "nodir" / "x.avi").string(), 16, 8, 10);
    EXPECT_EQ(Record(avi, 16, 8, 1), 0);
  }
  for (const char* name : {"first.avi", "second.avi"}) {  // one after the other
    CAVIFile avi((dir_ / name).string(), 16, 8, 10);
    EXPECT_EQ(Record(avi, 16, 8, 9), 9);
    EXPECT_FALSE(avi.WriteFrame(TestFrame(8, 8, 9).data(), 8, 8));  // another size
  }
  EXPECT_TRUE(PlaysBack(dir_ / "first.avi", 16, 8, 9));
  EXPECT_TRUE(PlaysBack(dir_ / "second.avi", 16, 8, 9));
  Owner owner;
  {
    // Room for 12 frames: the file ends full, as if its seconds were used up.
    CAVIFile avi((dir_ / "full.avi").string(), 16, 8, 10);
    avi.SetOwner(&owner);
    avi.LowerFileSizeLimit(224 + 8 + 12 * (16 * 8 * 3 + 8 + 16));
    EXPECT_EQ(Record(avi, 16, 8, 20), 11);
  }
  EXPECT_EQ(owner.told, (std::vector<std::int32_t>{9, 0}));
  EXPECT_EQ(fs::file_size(dir_ / "full.avi"), 224 + 8 + 12 * (16 * 8 * 3 + 8 + 16));
  EXPECT_TRUE(PlaysBack(dir_ / "full.avi", 16, 8, 12));
}

TEST_F(AviFileTest, AFullDiskOrAKilledProcessKeepsTheFramesWritten) {
  // The disk fills in the middle of frame 21: with and without room left
  // for the index.
  for (const auto& [width, height, room] : {std::tuple{32, 16, 100}, std::tuple{64, 48, 9000}}) {
    const fs::path clip = dir_ / ("full" + std::to_string(width) + ".avi");
    const std::size_t full = 224 + 20 * (width * height * 3 + 8) + room;
    EXPECT_EQ(
        Shell(std::string(RECORD_HELPER) + " '" + clip.string() + "' " + std::to_string(width) +
              " " + std::to_string(height) + " 30 " + std::to_string(full)),
        "20\n");
    EXPECT_EQ(Probe(clip)["nb_read_frames"], "20");
    EXPECT_TRUE(PlaysBack(clip, width, height, 20));
  }
  const fs::path clip = dir_ / "killed.avi";
  const pid_t pid = fork();
  if (pid == 0) {
    execl(RECORD_HELPER, RECORD_HELPER, clip.c_str(), "24", "16", "-1", nullptr);
    _exit(127);
  }
  const std::uintmax_t record = 24 * 16 * 3 + 8;
  while (!fs::exists(clip) || fs::file_size(clip) < 224 + 40 * record) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  // Every whole second the process finished is there, the moment it died.
  const int whole = static_cast<int>((fs::file_size(clip) - 224) / record) / 7 * 7 - 7;
  EXPECT_TRUE(PlaysBack(clip, 24, 16, whole));
  EXPECT_TRUE(GstPlays(clip));
}

}  // namespace
