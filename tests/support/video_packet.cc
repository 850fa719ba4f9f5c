#include "support/video_packet.h"

#include "protocol/block_buffer.h"
#include "protocol/video_packet_builder.h"

namespace vc_test {

VIDEODATA::FrameInfo TestFrameInfo(std::uint8_t key_frame, std::uint16_t width,
                                   std::uint16_t height, std::uint32_t seq) {
  VIDEODATA::FrameInfo info;
  info.seq = seq;
  info.key_frame = key_frame;
  info.width = width;
  info.height = height;
  info.frame_rate = 20;
  info.bitrate = 49000;
  info.bit_count = 32;
  info.timestamp = 1700000000000 + seq;
  return info;
}

std::string VideoPacket(const VIDEODATA::FrameInfo& info, std::string_view payload) {
  sox::PackBuffer buffer;
  const auto packet = VIDEODATA::BuildVideoPacket(buffer, info, payload.data(), payload.size());
  return std::string(reinterpret_cast<const char*>(packet.data()), packet.size());
}

std::string VideoPacket(std::uint8_t key_frame, std::uint16_t width, std::uint16_t height,
                        std::uint8_t tag, std::size_t payload, std::uint16_t bit_count) {
  VIDEODATA::FrameInfo info = TestFrameInfo(key_frame, width, height, tag);
  info.bit_count = bit_count;
  return VideoPacket(info, std::string(payload, static_cast<char>(tag)));
}

}  // namespace vc_test
