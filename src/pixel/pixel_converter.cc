#include "pixel/pixel_converter.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#include "pixel/cpu_features.h"
#include "pixel/scale_row.h"
#include "pixel/yuy2_row.h"

namespace {

// BT.601 video-range YUV to RGB in 16.16 fixed point.
constexpr int kLuma = 76309;     // 1.164
constexpr int kUBlue = 132201;   // 2.017
constexpr int kUGreen = -25674;  // -0.392
constexpr int kVGreen = -53278;  // -0.813
constexpr int kVRed = 104597;    // 1.596

// The extreme sums of the row routine over every Y, U and V byte: the clamp
// table's margins must cover them.
constexpr int kLowestSum = ((0 - 16) * kLuma + -128 * kUBlue) >> 16;
constexpr int kHighestSum = ((255 - 16) * kLuma + 127 * kUBlue) >> 16;
static_assert(((0 - 16) * kLuma + 127 * kUGreen + 127 * kVGreen) >> 16 >= kLowestSum);
static_assert(((0 - 16) * kLuma + -128 * kVRed) >> 16 >= kLowestSum);
static_assert(((255 - 16) * kLuma + -128 * kUGreen + -128 * kVGreen) >> 16 <= kHighestSum);
static_assert(((255 - 16) * kLuma + 127 * kVRed) >> 16 <= kHighestSum);

// Streaming stores skip reading the destination's lines, which pays only for
// a frame the cache cannot keep: measured on a 1280 x 720 frame, they took a
// quarter to a third longer than plain stores while the frame sat in the
// last-level cache, and saved about a fifth when it came from memory. A frame
// that fits stays cached for the preview and the encoder that read it next.
bool StreamsFrame(std::int64_t bytes) {
  static const std::int64_t cache = [] {
    long size = sysconf(_SC_LEVEL3_CACHE_SIZE);
    if (size <= 0) {
      size = sysconf(_SC_LEVEL2_CACHE_SIZE);
    }
    return size > 0 ? std::int64_t{size} : std::int64_t{8} << 20;
  }();
  return bytes > cache;
}

}  // namespace

PixelConverter::PixelConverter() : clamp_(clamp_table_ + kClampMargin + 256) {
  static_assert(-256 - kClampMargin <= kLowestSum && kHighestSum <= 511 + kClampMargin);
  for (int i = 0; i < kClampMargin + 768 + kClampMargin; ++i) {
    clamp_table_[i] = static_cast<std::uint8_t>(std::clamp(i - kClampMargin - 256, 0, 255));
  }
}

bool PixelConverter::Rgb24ToRgb32(const std::uint8_t* src, VideoFrame& dst) const {
  if (src == nullptr || dst.data == nullptr || dst.width <= 0 || dst.height <= 0) {
    return true;
  }
  auto* out = reinterpret_cast<std::uint32_t*>(dst.data);
  // From the last pixel back, so that a picture converted in place (source
  // and destination at one address) never overwrites bytes not yet read.
  for (std::ptrdiff_t i = std::ptrdiff_t{dst.width} * dst.height - 1; i >= 0; --i) {
    const std::uint8_t* p = src + 3 * i;
    out[i] = 0xFF000000u | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0];
  }
  return true;
}

void PixelConverter::Yuy2RowToRgb32(std::uint32_t* dst, const std::uint8_t* src, int count) const {
  const auto pixel = [this](int y, int bu, int g, int rv) {
    return 0xFF000000u | std::uint32_t{clamp_[(y + bu) >> 16]} |
           std::uint32_t{clamp_[(y + g) >> 16]} << 8 | std::uint32_t{clamp_[(y + rv) >> 16]} << 16;
  };
  for (int i = 0; i < count; i += 2, src += 4) {
    const int y0 = (src[0] - 16) * kLuma;
    const int y1 = (src[2] - 16) * kLuma;
    const int u = src[1] - 128;
    const int v = src[3] - 128;
    const int bu = u * kUBlue;
    const int g = u * kUGreen + v * kVGreen;
    const int rv = v * kVRed;
    dst[i] = pixel(y0, bu, g, rv);
    if (i + 1 < count) {
      dst[i + 1] = pixel(y1, bu, g, rv);
    }
  }
}

void PixelConverter::Yuy2ToRgb32(const std::uint8_t* src, VideoFrame& dst) const {
  const int width = dst.width;
  const int height = dst.height;
  if (src == nullptr || dst.data == nullptr || width <= 0 || height <= 0) {
    return;
  }
  const std::ptrdiff_t src_row = std::ptrdiff_t{width / 2} * 4;
  // The rows are turned over: the first source row is the last in memory.
  std::uint8_t* const last = dst.data + std::ptrdiff_t{height - 1} * dst.stride;
  const pixel_kernels::Yuy2RowsFn kernel = pixel_kernels::BestYuy2Rows();
  const int fast = kernel != nullptr ? width & ~7 : 0;
  if (fast > 0) {
    const std::int64_t bytes = std::int64_t{width} * height * 6;
    kernel({src, src_row, last, -std::ptrdiff_t{dst.stride}, fast, height, StreamsFrame(bytes)});
  }
  if (fast == width) {
    return;
  }
  // An odd width has no source for its last pixel: it repeats its neighbour.
  const int even = width & ~1;
  std::uint8_t* row = last;
  for (int y = 0; y < height; ++y, src += src_row, row -= dst.stride) {
    auto* out = reinterpret_cast<std::uint32_t*>(row);
    if (fast < even) {
      Yuy2RowToRgb32(out + fast, src + std::ptrdiff_t{fast} * 2, even - fast);
    }
    if (even < width) {
      out[even] = even > 0 ? out[even - 1] : 0xFF000000u;
    }
  }
}

namespace {

// The source column or row of destination column or row `i`: 16.16 steps
// whose + 1 may carry the last ones past the source's end, where the source's
// last one stands in. 64-bit, so that no size overflows.
struct Picks {
  std::int64_t step;
  std::int64_t last;
  Picks(int from, int to) : step((std::int64_t{from} << 16) / to + 1), last(from - 1) {}
  std::int64_t operator()(std::int64_t i) const { return std::min(i * step >> 16, last); }
};

}  // namespace

void PixelConverter::ScaleNearest(VideoFrame& dst, const VideoFrame& src) const {
  if (dst.width <= 0 || dst.height <= 0 || src.width <= 0 || src.height <= 0) {
    return;
  }
  if (dst.data == nullptr || src.data == nullptr) {
    return;
  }
  const Picks column(src.width, dst.width);
  const Picks row(src.height, dst.height);
  const pixel_kernels::ScaleFn kernel = pixel_kernels::BestScale();
  // Bands of columns, so that each band's column table fits the stack.
  constexpr int kBand = pixel_kernels::kScaleBand;
  std::int32_t columns[kBand];
  for (int band = 0; band < dst.width; band += kBand) {
    const int width = std::min(kBand, dst.width - band);
    if (kernel != nullptr) {
      kernel({src.data, src.stride, column.step, column.last, row.step, row.last, band, width,
              dst.data + std::ptrdiff_t{band} * 4, dst.stride, dst.height});
      continue;
    }
    for (int x = 0; x < width; ++x) {
      columns[x] = static_cast<std::int32_t>(column(band + x));
    }
    for (int y = 0; y < dst.height;) {
      // The destination rows that repeat this source row copy the first.
      const std::int64_t source_row = row(y);
      int rows = 1;
      while (y + rows < dst.height && row(y + rows) == source_row) {
        ++rows;
      }
      const auto* in = reinterpret_cast<const std::uint32_t*>(src.data + source_row * src.stride);
      std::uint8_t* out_row = dst.data + y * std::ptrdiff_t{dst.stride};
      auto* out = reinterpret_cast<std::uint32_t*>(out_row) + band;
      for (int x = 0; x < width; ++x) {
        out[x] = in[columns[x]];
      }
      for (int r = 1; r < rows; ++r) {
        std::memcpy(out_row + r * std::ptrdiff_t{dst.stride} + std::ptrdiff_t{band} * 4, out,
                    std::size_t(width) * 4);
      }
      y += rows;
    }
  }
}
