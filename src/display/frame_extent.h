// How many bytes a frame of 32-bit pixels may be read from.
#pragma once

#include <cstdint>
#include <optional>

#include "common/video_frame.h"

namespace kalo::video {

// The largest frame or picture the display keeps or paints, in bytes.
inline constexpr std::int64_t kMaxPictureBytes = INT32_MAX;

// stride x height, when a painter reading 4 bytes per pixel stays inside
// those bytes: pixels present, width and height positive, stride at least
// 4 x width, and the total at most kMaxPictureBytes. nullopt for every other
// frame, which the display then never reads.
std::optional<std::int32_t> ReadableFrameBytes(const VideoFrame& frame);

}  // namespace kalo::video
