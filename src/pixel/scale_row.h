// Kernels of the nearest-neighbour scaler, and the choice among them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixel_kernels {

// One band of at most kScaleBand destination columns over all destination
// rows. Destination row y (the first in memory is 0) takes source row
// min(y * y_step >> 16, last_row); destination column x of the picture takes
// source column min(x * x_step >> 16, last_column).
inline constexpr int kScaleBand = 1024;

struct ScaleJob {
  const std::uint8_t* src;  // the source picture's first row
  std::ptrdiff_t src_stride;
  std::int64_t x_step, last_column;
  std::int64_t y_step, last_row;
  int first;          // the band's first destination column
  int width;          // the band's columns
  std::uint8_t* dst;  // the band's first column in the first row
  std::ptrdiff_t dst_stride;
  int height;
};

using ScaleFn = void (*)(const ScaleJob& job);

#if defined(__x86_64__)
void Scale_AVX512(const ScaleJob& job);
#endif

// The vector kernel this processor runs, or nullptr for the scalar path.
ScaleFn BestScale();

}  // namespace pixel_kernels
