// The clipped copy behind SetDIBitsToDevice: which source pixels land where.
#pragma once

#include <cstdint>

#include "region.h"

namespace plat::internal {

// The caller's bitmap rows: `lines` rows of 4 x width bytes from `bits`, the
// first being scan line `first_scan` (scan lines count from the bitmap's
// first row in memory: its bottom row when bottom-up).
struct DibRows {
  const std::uint8_t* bits = nullptr;
  std::int64_t width = 0;   // > 0
  std::int64_t height = 0;  // |biHeight|
  bool top_down = false;
  std::int64_t first_scan = 0;
  std::int64_t lines = 0;
};

// Where the source rectangle goes.
struct DibPlacement {
  std::int64_t x_dest = 0;
  std::int64_t y_dest = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::int64_t x_src = 0;
  std::int64_t y_src = 0;
};

// A surface being painted: top-down rows of `width` pixels.
struct SurfaceView {
  std::uint32_t* pixels = nullptr;
  std::int64_t width = 0;
  std::int64_t height = 0;
  const Region* clip = nullptr;  // null: the whole surface
};

// Copies what lies in the bitmap, the supplied rows, the source rectangle,
// the surface and the clip region; pixels are stored as painted, fourth byte
// and all (readers of the surface drop it). Returns how many supplied scan
// lines fall in the source rectangle.
std::int64_t CopyDibRows(const DibRows& src, const DibPlacement& place, const SurfaceView& dest);

}  // namespace plat::internal
