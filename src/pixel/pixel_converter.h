// Conversion of camera samples to the module's picture format (32-bit
// 0xFFRRGGBB, rows bottom-up) and nearest-neighbour scaling of such pictures.
#pragma once

#include <cstdint>

#include "common/video_frame.h"

// The vector paths follow pixel_kernels::CpuFeatures(): with SSE2 hidden
// (VIDEOCONF_CPU_MASK=all, or MaskCpuFeatures) every routine runs its plain
// scalar statement.
class PixelConverter {
 public:
  PixelConverter();
  ~PixelConverter() = default;
  // clamp_ points into the object itself.
  PixelConverter(const PixelConverter&) = delete;
  PixelConverter& operator=(const PixelConverter&) = delete;

  // Packed bottom-up BGR rows to 32-bit pixels, width x height pixels from the
  // first destination pixel on (the destination stride is not used).
  bool Rgb24ToRgb32(const std::uint8_t* src, VideoFrame& dst) const;
  // Top-down YUY2 rows of (width / 2) x 4 bytes to bottom-up 32-bit rows. An
  // odd width's last pixel has no source of its own and repeats its neighbour.
  void Yuy2ToRgb32(const std::uint8_t* src, VideoFrame& dst) const;
  // The scalar row routine: `count` pixels (an odd count writes exactly count).
  void Yuy2RowToRgb32(std::uint32_t* dst, const std::uint8_t* src, int count) const;
  // Nearest-neighbour scale of 32-bit pixels; rows keep their memory order.
  void ScaleNearest(VideoFrame& dst, const VideoFrame& src) const;

  // The 768-entry clamp table: entry i holds i - 256 saturated to 0..255.
  const std::uint8_t* clamp_table() const { return clamp_table_ + kClampMargin; }

 private:
  // The row routine's sums reach -277..534 for samples outside the nominal
  // video range; the margins around the 768 entries saturate those too.
  static constexpr int kClampMargin = 32;
  std::uint8_t clamp_table_[kClampMargin + 768 + kClampMargin];
  // Entry 256 of the table proper: clamp_[v] is v saturated to 0..255 for v
  // from -256 - kClampMargin to 511 + kClampMargin.
  const std::uint8_t* clamp_;
};
