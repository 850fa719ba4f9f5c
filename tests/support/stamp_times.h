// The capture times the virtual camera stamps into its pictures
// (VC_VIRTUAL_CAMERA_STAMP), read back from a recorded AVI file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "capture/capture_time_stamp.h"
#include "support/run_command.h"

namespace vc_test {

// The stamp of each frame of `clip` (milliseconds, the low 32 bits of the
// wall clock); -1 for a frame whose stamp does not read.
inline std::vector<std::int64_t> StampTimes(const std::filesystem::path& clip, int width,
                                            int height) {
  const std::string gray =
      CommandOutput("ffmpeg -v error -i '" + clip.string() + "' -f rawvideo -pix_fmt gray -");
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

}  // namespace vc_test
