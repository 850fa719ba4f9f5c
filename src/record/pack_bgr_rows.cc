#include "record/pack_bgr_rows.h"

#include <cstring>

namespace {

std::uint32_t Load(const std::uint8_t* at) {
  std::uint32_t value;
  std::memcpy(&value, at, 4);
  return value;
}

void Store(std::uint8_t* at, std::uint32_t value) {
  std::memcpy(at, &value, 4);
}

}  // namespace

void PackBgrRows(const std::uint8_t* src, std::int32_t width, std::int32_t height,
                 std::uint8_t* dst, std::size_t dst_stride) {
  if (width <= 0 || height <= 0) {
    return;
  }
  const std::size_t row_bytes = static_cast<std::size_t>(width) * 3;
  for (std::int32_t y = 0; y < height; ++y) {
    std::uint8_t* out = dst + static_cast<std::size_t>(y) * dst_stride;
    const std::uint8_t* in = src + static_cast<std::size_t>(y) * width * 4;
    std::int32_t x = 0;
    // Four pixels make three whole words (little-endian byte order).
    for (; x + 4 <= width; x += 4, in += 16, out += 12) {
      const std::uint32_t a = Load(in), b = Load(in + 4), c = Load(in + 8), d = Load(in + 12);
      Store(out, (a & 0xFFFFFF) | (b << 24));
      Store(out + 4, ((b >> 8) & 0xFFFF) | (c << 16));
      Store(out + 8, ((c >> 16) & 0xFF) | (d << 8));
    }
    for (; x < width; ++x, in += 4, out += 3) {
      std::memcpy(out, in, 3);
    }
    std::memset(out, 0, dst_stride - row_bytes);
  }
}
