// The edges of the readable extent; the set's table covers each kind of
// refused frame.
#include "display/frame_extent.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(ReadableFrameBytes, SpansStrideTimesHeightUpToTheLimit) {
  std::uint8_t pixels[16];
  const auto bytes = [&](std::int32_t width, std::int32_t height, std::int32_t stride) {
    return kalo::video::ReadableFrameBytes(VideoFrame{pixels, stride, width, height, 0});
  };
  EXPECT_EQ(bytes(176, 144, 704), 704 * 144);
  EXPECT_EQ(bytes(5, 3, 32), 32 * 3);  // padded rows
  EXPECT_EQ(bytes(INT32_MAX / 4, 1, INT32_MAX), INT32_MAX);
  EXPECT_EQ(bytes(INT32_MAX / 4, 2, INT32_MAX), std::nullopt);
  EXPECT_EQ(bytes(176, 144, 528), std::nullopt);  // 24-bit rows
}

}  // namespace
