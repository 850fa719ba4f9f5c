// `videoconf record` as a person runs it, with the virtual camera stamping
// each picture with its capture time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "capture/capture_time_stamp.h"
#include "support/log_lines.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Runs the program through a shell that ignores SIGXFSZ, so that a `setup`
// making the disk full (a ulimit) fails its writes instead of killing it.
int Record(const fs::path& clip, int seconds, const std::string& setup, std::string* out) {
  return vc_test::RunCommand("VC_VIRTUAL_CAMERA_STAMP=1 sh -c \"trap '' XFSZ; " + setup +
                                 " exec '" VIDEOCONF_PROGRAM "' record --seconds " +
                                 std::to_string(seconds) + " '" + clip.string() + "'\" 2>&1",
                             out);
}

// The capture time (ms, 32 bits) stamped into each frame; -1 where none reads.
std::vector<std::int64_t> StampTimes(const fs::path& clip, int width, int height) {
  const std::string gray = vc_test::CommandOutput("ffmpeg -v error -i '" + clip.string() +
                                                  "' -f rawvideo -pix_fmt gray -");
  std::vector<std::int64_t> times;
  const std::size_t size = static_cast<std::size_t>(width) * height;
  for (std::size_t at = 0; at + size <= gray.size(); at += size) {
    std::uint64_t bits = 0;
    for (int i = 0; i < capture_stamp::kBits; ++i) {
      const capture_stamp::Block b = capture_stamp::BlockOf(i, width, height);
      const std::size_t middle = at + (b.y + b.height / 2) * width + b.x + b.width / 2;
      bits |= std::uint64_t{static_cast<unsigned char>(gray[middle]) > 128} << i;
    }
    std::uint32_t ms = 0;
    times.push_back(capture_stamp::ReadStampBits(bits, &ms) ? ms : -1);
  }
  return times;
}

// The camera gives 15 frames a second, the file takes 7: frame k is the first
// captured k/7 s or later after the first, so all lie as late as one camera
// frame at most (give or take the delays of a busy machine, 40 ms).
TEST(RecordCommand, SecondsAskedAreSecondsOfCapturePlayedAtTheirOwnSpeed) {
  vc_test::TempDir dir;
  const fs::path clip = dir.path() / "clip.avi";
  std::string out;
  ASSERT_EQ(Record(clip, 4, "", &out), 0) << out;
  const std::vector<std::int64_t> times = StampTimes(clip, 352, 288);
  ASSERT_EQ(times.size(), 28u) << out;
  std::vector<double> late;
  for (std::size_t k = 0; k < times.size(); ++k) {
    late.push_back(static_cast<double>(times[k] - times[0]) - k * 1000.0 / 7);
  }
  EXPECT_LT(std::ranges::max(late) - std::ranges::min(late), 1000.0 / 15 + 40)
      << testing::PrintToString(late);
}

TEST(RecordCommand, AFullDiskFailsSayingWhatTheFileHolds) {
  vc_test::TempDir dir;
  const fs::path clip = dir.path() / "full.avi";
  std::string out;
  // 3 MiB: room for 10 frames of 352x288.
  EXPECT_EQ(Record(clip, 4, "ulimit -f 6144;", &out), 3) << out;
  EXPECT_THAT(out, testing::HasSubstr("holds 1.4 s (10 frames) of the 4 s asked"));
  EXPECT_THAT(vc_test::ReadLogMessages(fs::path(VIDEOCONF_PROGRAM).parent_path() / "logs" /
                                       "video_log.txt"),
              testing::Contains("[CaptureRecording::Write] write failed: " + clip.string() +
                                " holds 10 frames (1.4 s)"));
}

TEST(RecordCommand, ALostCameraEndsItSayingSo) {
  vc_test::TempDir dir;
  std::string out;
  EXPECT_EQ(Record(dir.path() / "lost.avi", 4, "export VC_VIRTUAL_CAMERA_FAIL_AFTER=20;", &out), 3);
  EXPECT_THAT(out, testing::HasSubstr("camera lost"));
}

}  // namespace
