// The five values a codec object is opened and checked with.
#pragma once

#include <cstdint>

namespace vcodec {

struct CodecParams {
  std::int32_t width = 0;
  std::int32_t height = 0;
  float frame_rate = 0;
  std::uint32_t bitrate = 0;
  std::uint32_t bits_per_pixel = 0;

  // Bytes of one picture: 32-bit pixels, stride 4 x width.
  std::uint32_t PictureBytes() const;
};

// True for values this system's cameras and peers produce: a size within the
// picture bound, a positive finite frame rate the bitstream can time, and
// 32-bit pixels. Anything else leaves a codec object unable to work.
bool ParamsUsable(const CodecParams& params);

// Every field equal (a NaN frame rate never is).
bool SameParams(const CodecParams& a, const CodecParams& b);

}  // namespace vcodec
