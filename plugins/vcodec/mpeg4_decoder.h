// MPEG-4 Part 2 packets to 32-bit bottom-up pictures of one fixed size.
#pragma once

#include <cstdint>
#include <vector>

#include "av_handles.h"

namespace vcodec {

class Mpeg4Decoder {
 public:
  // Throws std::runtime_error when libavcodec cannot be set up.
  Mpeg4Decoder(std::int32_t width, std::int32_t height);

  // Decodes one packet into `picture` (width x height 32-bit pixels, rows
  // bottom-up, exactly 4 x width x height bytes written). False when the
  // packet yields no picture, a damaged one the library cannot conceal, or a
  // picture of another size. Throws std::runtime_error when the library
  // fails for reasons other than the packet's bytes.
  bool Decode(const std::uint8_t* data, std::uint32_t length, std::uint8_t* picture);

 private:
  bool Convert(std::uint8_t* picture);

  std::int32_t width_;
  std::int32_t height_;
  CodecContextPtr context_;
  FramePtr frame_;
  PacketPtr packet_;
  // The packet's bytes with the zeroed tail the bitstream reader may touch.
  std::vector<std::uint8_t> input_;
};

}  // namespace vcodec
