#include "display/frame_extent.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <optional>

namespace {

using kalo::video::ReadableFrameBytes;

std::uint8_t g_pixels[16];

VideoFrame Frame(std::int32_t width, std::int32_t height, std::int32_t stride) {
  VideoFrame f;
  f.data = g_pixels;
  f.width = width;
  f.height = height;
  f.stride = stride;
  return f;
}

TEST(ReadableFrameBytes, SoundFramesSpanStrideTimesHeight) {
  EXPECT_EQ(ReadableFrameBytes(Frame(176, 144, 704)), 704 * 144);
  EXPECT_EQ(ReadableFrameBytes(Frame(5, 3, 32)), 32 * 3);  // padded rows
  EXPECT_EQ(ReadableFrameBytes(Frame(1, 1, 4)), 4);
  // Exactly the largest size the display keeps.
  EXPECT_EQ(ReadableFrameBytes(Frame(INT32_MAX / 4, 1, INT32_MAX)), INT32_MAX);
}

TEST(ReadableFrameBytes, RowsNarrowerThanFourBytesAPixelAreRefused) {
  EXPECT_EQ(ReadableFrameBytes(Frame(176, 144, 703)), std::nullopt);
  EXPECT_EQ(ReadableFrameBytes(Frame(176, 144, 528)), std::nullopt);  // 24-bit rows
  EXPECT_EQ(ReadableFrameBytes(Frame(4, 4, 0)), std::nullopt);
  EXPECT_EQ(ReadableFrameBytes(Frame(4, 4, -16)), std::nullopt);
  // 4 x 2^30 is 0 in 32 bits.
  EXPECT_EQ(ReadableFrameBytes(Frame(1 << 30, 1, 0)), std::nullopt);
  EXPECT_EQ(ReadableFrameBytes(Frame(1 << 29, 1, INT32_MAX)), std::nullopt);
}

TEST(ReadableFrameBytes, EmptyOrMissingPicturesAreRefused) {
  EXPECT_EQ(ReadableFrameBytes(Frame(0, 4, 16)), std::nullopt);
  EXPECT_EQ(ReadableFrameBytes(Frame(4, 0, 16)), std::nullopt);
  EXPECT_EQ(ReadableFrameBytes(Frame(-1, 4, 16)), std::nullopt);
  EXPECT_EQ(ReadableFrameBytes(Frame(4, -1, 16)), std::nullopt);
  VideoFrame no_pixels = Frame(4, 4, 16);
  no_pixels.data = nullptr;
  EXPECT_EQ(ReadableFrameBytes(no_pixels), std::nullopt);
}

TEST(ReadableFrameBytes, SizesPastTheLimitAreRefusedWithoutWrapping) {
  EXPECT_EQ(ReadableFrameBytes(Frame(INT32_MAX / 4, 2, INT32_MAX)), std::nullopt);
  EXPECT_EQ(ReadableFrameBytes(Frame(1, INT32_MAX, 4)), std::nullopt);      // negative in 32 bits
  EXPECT_EQ(ReadableFrameBytes(Frame(1, (1 << 30) + 4, 4)), std::nullopt);  // 16 in 32 bits
  EXPECT_EQ(ReadableFrameBytes(Frame(INT32_MAX / 4, INT32_MAX, INT32_MAX)), std::nullopt);
}

}  // namespace
