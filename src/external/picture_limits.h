// The largest picture any part of this system handles. No camera mode or
// sender of this system comes near it (the largest picture sent is 352 x 288);
// it exists so that a size a peer names cannot make a receiver allocate
// without bound.
#pragma once

#include <cstdint>

inline constexpr std::int32_t kMaxPictureWidth = 3840;
inline constexpr std::int32_t kMaxPictureHeight = 2160;

// True for a size a decoder or a window may be given.
constexpr bool PictureSizeAllowed(std::int64_t width, std::int64_t height) {
  return width > 0 && height > 0 && width <= kMaxPictureWidth && height <= kMaxPictureHeight;
}
