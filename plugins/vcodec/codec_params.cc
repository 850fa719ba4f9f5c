#include "codec_params.h"

#include <cmath>

#include "external/picture_limits.h"

namespace vcodec {
namespace {

// MPEG-4 Part 2 counts time in ticks of at most 65535 per second, and the
// video record carries the rate as a u16.
constexpr float kMaxFrameRate = 65535.0f;
constexpr std::uint32_t kPixelBits = 32;

}  // namespace

std::uint32_t CodecParams::PictureBytes() const {
  return static_cast<std::uint32_t>(width) * 4u * static_cast<std::uint32_t>(height);
}

bool ParamsUsable(const CodecParams& params) {
  return PictureSizeAllowed(params.width, params.height) && std::isfinite(params.frame_rate) &&
         params.frame_rate > 0.0f && params.frame_rate <= kMaxFrameRate &&
         params.bits_per_pixel == kPixelBits;
}

bool SameParams(const CodecParams& a, const CodecParams& b) {
  return a.width == b.width && a.height == b.height && a.frame_rate == b.frame_rate &&
         a.bitrate == b.bitrate && a.bits_per_pixel == b.bits_per_pixel;
}

}  // namespace vcodec
