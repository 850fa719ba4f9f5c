#include "display/frame_extent.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

namespace {

using kalo::video::ReadableFrameBytes;

// The set's table covers each kind of refused frame; these pin the edges.
std::uint8_t g_pixels[16];

VideoFrame Frame(std::int32_t width, std::int32_t height, std::int32_t stride) {
  VideoFrame f;
  f.data = g_pixels;
  f.width = width;
  f.height = height;
  f.stride = stride;
  return f;
}

TEST(ReadableFrameBytes, SpansStrideTimesHeightUpToTheLimit) {
  EXPECT_EQ(ReadableFrameBytes(Frame(176, 144, 704)), 704 * 144);
  EXPECT_EQ(ReadableFrameBytes(Frame(5, 3, 32)), 32 * 3);  // padded rows
  EXPECT_EQ(ReadableFrameBytes(Frame(INT32_MAX / 4, 1, INT32_MAX)), INT32_MAX);
  EXPECT_EQ(ReadableFrameBytes(Frame(INT32_MAX / 4, 2, INT32_MAX)), std::nullopt);
  EXPECT_EQ(ReadableFrameBytes(Frame(176, 144, 528)), std::nullopt);  // 24-bit rows
}

}  // namespace
