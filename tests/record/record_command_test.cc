// `videoconf record` as a person runs it, with the virtual camera stamping
// each picture with its capture time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/log_lines.h"
#include "support/run_command.h"
#include "support/stamp_times.h"
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

// The camera gives 15 frames a second, the file takes 7: frame k is the first
// captured k/7 s or later after the first, so all lie as late as one camera
// frame at most (give or take the delays of a busy machine, 40 ms).
TEST(RecordCommand, SecondsAskedAreSecondsOfCapturePlayedAtTheirOwnSpeed) {
  vc_test::TempDir dir;
  const fs::path clip = dir.path() / "clip.avi";
  std::string out;
  ASSERT_EQ(Record(clip, 4, "", &out), 0) << out;
  const std::vector<std::int64_t> times = vc_test::StampTimes(clip, 352, 288);
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
