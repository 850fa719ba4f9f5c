#include "display/frame_extent.h"

namespace kalo::video {

std::optional<std::int32_t> ReadableFrameBytes(const VideoFrame& frame) {
  if (frame.data == nullptr || frame.width <= 0 || frame.height <= 0)
    return std::nullopt;
  // In 64 bits, so that neither product can wrap.
  const std::int64_t stride = frame.stride;
  if (stride < std::int64_t{4} * frame.width)
    return std::nullopt;
  const std::int64_t bytes = stride * frame.height;
  if (bytes > kMaxPictureBytes)
    return std::nullopt;
  return static_cast<std::int32_t>(bytes);
}

}  // namespace kalo::video
