// The codec's two picture conversions: 32-bit bottom-up rows (bytes blue,
// green, red, x) to the I420 planes the encoder takes, and the decoder's I420
// planes back, both with BT.601 studio-range colours, through libyuv.
#pragma once

#include <cstdint>

namespace vcodec {

// Three planes (Y, U, V) as libavcodec lays them out in an AVFrame.
struct I420Planes {
  std::uint8_t* const* data;
  const int* linesize;
};

// `bgra` holds height rows of 4 x width bytes, the bottom row first; the
// planes hold width x height luma and (width+1)/2 x (height+1)/2 chroma
// samples. False when libyuv refuses the sizes.
bool BgraToI420(const std::uint8_t* bgra, int width, int height, const I420Planes& out);

// The reverse: writes exactly height rows of 4 x width bytes into `bgra`,
// the bottom row first, fourth bytes 255.
bool I420ToBgra(const I420Planes& in, int width, int height, std::uint8_t* bgra);

}  // namespace vcodec
