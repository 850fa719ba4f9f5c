// What a video record says about its frame, apart from the payload bytes.
#pragma once

#include <cstdint>

namespace VIDEODATA {

struct FrameInfo {
  std::uint32_t seq = 0;         // the sender's packet counter; receivers ignore it
  std::uint8_t key_frame = 0;    // 1: a key frame
  std::uint16_t width = 0;       // pixels
  std::uint16_t height = 0;      // pixels
  std::uint16_t frame_rate = 0;  // the sender's camera setting
  std::uint32_t bitrate = 0;     // the sender's camera setting
  std::uint16_t bit_count = 0;   // bits per pixel; 32 from this system
  std::uint64_t timestamp = 0;   // milliseconds, of the captured frame

  friend bool operator==(const FrameInfo&, const FrameInfo&) = default;
};

}  // namespace VIDEODATA
