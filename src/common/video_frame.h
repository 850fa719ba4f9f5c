// One picture handed from a producer to its consumers.
#pragma once

#include <cstdint>

// 32-bit pixels (bytes blue, green, red, x), rows bottom-up, stride 4 x width
// for every frame that capture makes and the windows paint. The pixels are
// valid only during the call that hands the frame over.
struct VideoFrame {
  std::uint8_t* data = nullptr;  // not owned
  std::int32_t stride = 0;       // bytes per row
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int64_t timestamp = 0;  // milliseconds
};
