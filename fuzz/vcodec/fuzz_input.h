// How a fuzz input is read as a stream for one decoder: a byte choosing the
// picture size the decoder is opened with, then packets, each a u16
// little-endian length and that many bytes (the last one cut short where the
// input ends).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vcodec_fuzz {

struct PictureSize {
  int width;
  int height;
};

// The sizes this system sends, and two a peer might name.
inline constexpr PictureSize kSizes[] = {{176, 144}, {352, 288}, {640, 480}, {18, 14}};

inline PictureSize SizeFor(std::uint8_t selector) {
  return kSizes[selector % (sizeof kSizes / sizeof kSizes[0])];
}

// The packets of a fuzz input, after its selector byte.
inline std::vector<std::span<const std::uint8_t>> Packets(std::span<const std::uint8_t> input) {
  std::vector<std::span<const std::uint8_t>> packets;
  while (input.size() >= 2) {
    const std::size_t length = std::min<std::size_t>(input[0] | input[1] << 8, input.size() - 2);
    packets.push_back(input.subspan(2, length));
    input = input.subspan(2 + length);
  }
  return packets;
}

}  // namespace vcodec_fuzz
