// Turns 32-bit frames (blue, green, red, x; stride 4 x width) into the 24-bit
// rows an uncompressed AVI stores, keeping the row order.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes `height` rows of 3 x width bytes, `dst_stride` apart; the bytes
// between a row's end and the next row (the DIB padding) become zeros.
void PackBgrRows(const std::uint8_t* src, std::int32_t width, std::int32_t height,
                 std::uint8_t* dst, std::size_t dst_stride);
