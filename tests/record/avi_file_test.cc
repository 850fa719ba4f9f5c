#include "record/avi_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "support/run_command.h"
#include "support/temp_dir.h"
#include "test_frames.h"

namespace {

namespace fs = std::filesystem;

// What ffprobe says of the file, and what it should say.
std::string Probe(const fs::path& f) {
  return vc_test::CommandOutput(
      std::string("ffprobe -v error -count_frames -of csv=p=0 -show_entries stream=") +
      "codec_name,width,height,nb_read_frames:format=nb_streams,duration '" + f.string() + "'");
}
std::string Clip(int width, int height, int frames) {
  char text[64];
  std::snprintf(text, sizeof text, "rawvideo,%d,%d,%d\n1,%.6f\n", width, height, frames,
                frames * 10 / 70.0);
  return text;
}

// ffmpeg gives back frames 0, 1, ... exactly, at least `frames` of them.
::testing::AssertionResult PlaysBack(const fs::path& file, int width, int height, int frames) {
  const std::string shown = vc_test::CommandOutput("ffmpeg -v error -i '" + file.string() +
                                                   "' -f rawvideo -pix_fmt bgr24 -");
  const std::size_t size = static_cast<std::size_t>(width) * height * 3;
  if (shown.size() % size != 0 || shown.size() < frames * size) {
    return ::testing::AssertionFailure() << shown.size() << " bytes decoded";
  }
  for (std::size_t n = 0; n < shown.size() / size; ++n) {
    if (shown.compare(n * size, size, TestFrame(width, height, static_cast<int>(n), 3)) != 0) {
      return ::testing::AssertionFailure() << "frame " << n << " differs";
    }
  }
  return ::testing::AssertionSuccess();
}

struct Owner : RecordOwner {
  void OnRecordSecondsLeft(std::int32_t seconds) override { told.push_back(seconds); }
  std::vector<std::int32_t> told;
};

class AviFileTest : public ::testing::Test {
 protected:
  // Offers `frames` test frames; how many WriteFrame took with true.
  static int Record(CAVIFile& avi, int width, int height, int frames) {
    int accepted = 0;
    for (int n = 0; n < frames; ++n) {
      accepted += avi.WriteFrame(Pixels(TestFrame(width, height, n)), width, height);
    }
    return accepted;
  }
  vc_test::TempDir temp_;
  const fs::path dir_ = temp_.path();
};

TEST_F(AviFileTest, PlayersReadTheExactPixelsOfAnOddSizedClip) {
  const fs::path clip = dir_ / "clip.avi";
  {
    CAVIFile avi(clip.string(), 37, 23, 60);
    EXPECT_EQ(Record(avi, 37, 23, 12), 12);
  }
  EXPECT_EQ(Probe(clip), Clip(37, 23, 12));
  EXPECT_EQ(fs::file_size(clip), 224 + 12 * (8 + 112 * 23) + 8 + 12 * 16);  // rows of 4 x 28 bytes
  EXPECT_TRUE(PlaysBack(clip, 37, 23, 12));
  // Players forgive an index that misses its chunks; a seek would not.
  std::ifstream in(clip, std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), {});
  const std::size_t movi = file.find("movi"), idx1 = file.find("idx1");
  ASSERT_NE(idx1, std::string::npos);
  for (std::size_t entry = idx1 + 8; entry + 16 <= file.size(); entry += 16) {
    std::uint32_t offset = 0;  // from the 'movi' tag
    std::memcpy(&offset, file.data() + entry + 8, 4);
    ASSERT_LT(movi + offset + 4, file.size());
    EXPECT_EQ(file.substr(movi + offset, 4), "00db") << "index entry " << (entry - idx1) / 16;
  }
  EXPECT_EQ(vc_test::CommandOutput("gst-launch-1.0 -q filesrc location=" + clip.string() +
                                   " ! avidemux ! fakesink && echo played"),
            "played\n");
}

TEST_F(AviFileTest, TheSecondsLimitEndsAfterItsLastFrame) {
  Owner owner;
  {
    CAVIFile avi((dir_ / "ten.avi").string(), 16, 8, 10);
    avi.SetOwner(&owner);
    EXPECT_EQ(Record(avi, 16, 8, 71), 69);  // the 70th is written and ends it
    EXPECT_FALSE(avi.IsOpen());
  }
  EXPECT_EQ(owner.told, (std::vector<std::int32_t>{9, 8, 7, 6, 5, 4, 3, 2, 1, 0}));
  EXPECT_EQ(Probe(dir_ / "ten.avi"), Clip(16, 8, 70));
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
    EXPECT_FALSE(avi.WriteFrame(Pixels(TestFrame(8, 8, 9)), 8, 8));  // another size
  }
  EXPECT_TRUE(PlaysBack(dir_ / "first.avi", 16, 8, 9));
  EXPECT_TRUE(PlaysBack(dir_ / "second.avi", 16, 8, 9));
  Owner owner;
  const std::uintmax_t room = 224 + 8 + 12 * (16 * 8 * 3 + 8 + 16);  // 12 frames and the index
  {
    CAVIFile avi((dir_ / "full.avi").string(), 16, 8, 10);
    avi.SetOwner(&owner);
    avi.LowerFileSizeLimit(room);
    EXPECT_EQ(Record(avi, 16, 8, 20), 11);  // ends full as if its seconds were used up
  }
  EXPECT_EQ(owner.told, (std::vector<std::int32_t>{9, 0}));
  EXPECT_EQ(fs::file_size(dir_ / "full.avi"), room);
  EXPECT_TRUE(PlaysBack(dir_ / "full.avi", 16, 8, 12));
}

TEST_F(AviFileTest, AFullDiskOrAKilledProcessKeepsTheFramesWritten) {
  // The disk fills in the middle of frame 21, with and without room for the index.
  for (const auto& [width, height, left] : {std::tuple{32, 16, 100}, std::tuple{64, 48, 9000}}) {
    const fs::path clip = dir_ / ("full" + std::to_string(width) + ".avi");
    const std::size_t full = 224 + 20 * (width * height * 3 + 8) + left;
    EXPECT_EQ(
        vc_test::CommandOutput(RECORD_HELPER " '" + clip.string() + "' " + std::to_string(width) +
                               " " + std::to_string(height) + " 30 " + std::to_string(full)),
        "20\n");
    EXPECT_EQ(Probe(clip), Clip(width, height, 20));
    EXPECT_EQ(fs::file_size(clip), full - left + (left > 328 ? 328 : 0));  // nothing torn kept
    EXPECT_TRUE(PlaysBack(clip, width, height, 20));
  }
  const fs::path clip = dir_ / "killed.avi";
  const int pid = std::stoi(vc_test::CommandOutput(RECORD_HELPER " '" + clip.string() +
                                                   "' 24 16 -1 >/dev/null & echo $!"));
  const std::uintmax_t frame = 24 * 16 * 3 + 8;
  for (int i = 0; i < 10000 && (!fs::exists(clip) || fs::file_size(clip) < 224 + 40 * frame); ++i) {
    usleep(1000);
  }
  kill(pid, SIGKILL);
  for (int i = 0; i < 1000 && kill(pid, 0) == 0; ++i) {  // gone, or a zombie nobody reaps
    usleep(1000);
  }
  // The headers tell the whole seconds written (all, or all but the one it
  // died in), and those play.
  const auto written = static_cast<int>((fs::file_size(clip) - 224) / frame);
  const int told = std::stoi(vc_test::CommandOutput(
      "ffprobe -v error -show_entries stream=nb_frames -of csv=p=0 '" + clip.string() + "'"));
  EXPECT_TRUE(told % 7 == 0 && told <= written && told >= written - 13) << told << " " << written;
  EXPECT_EQ(std::stoul(vc_test::CommandOutput("od -An -tu4 -j4 -N4 '" + clip.string() + "'")),
            216 + told * frame);
  EXPECT_TRUE(PlaysBack(clip, 24, 16, told));
}

}  // namespace
