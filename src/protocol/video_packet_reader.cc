#include "protocol/video_packet_reader.h"

#include "protocol/packet_error.h"
#include "protocol/sox_unpack.h"
#include "protocol/video_data.h"
#include "protocol/video_header.h"
#include "protocol/video_packet_limits.h"

namespace VIDEODATA {
namespace {

bool LengthCanBePacket(std::uint32_t length, std::uint32_t command) {
  if (length < kHeaderSize || length > kMaxPacketLength)
    return false;
  if (command == kVideoCommand)
    return length >= kVideoFixedSize && length <= kMaxVideoPacket;
  return true;
}

PacketReading Bad(const char* why) {
  PacketReading reading;
  reading.kind = PacketKind::kBad;
  reading.error = why;
  return reading;
}

}  // namespace

PacketFront FindWholePacket(const void* bytes, std::size_t size) noexcept {
  PacketFront front;
  if (bytes == nullptr || size < kHeaderSize)
    return front;
  sox::Unpack up(bytes, kHeaderSize);
  HEADER header;
  header.unmarshal(up);  // nine bytes are there: cannot fail
  front.length = header.length;
  front.command = header.command;
  if (!LengthCanBePacket(header.length, header.command)) {
    front.state = FrontState::kBad;
  } else if (size >= header.length) {
    front.state = FrontState::kWhole;
  }
  return front;
}

VideoFrame VideoRecord::frame() const noexcept {
  VideoFrame frame;
  // VideoFrame's pixels are writable by type; the payload is only read.
  frame.data = const_cast<std::uint8_t*>(payload);
  frame.stride = (info.bit_count / 8) * info.width;
  frame.width = info.width;
  frame.height = info.height;
  frame.timestamp = static_cast<std::int64_t>(info.timestamp);
  return frame;
}

PacketReading ReadWholePacket(const void* bytes, std::size_t size) noexcept {
  const PacketFront front = FindWholePacket(bytes, size);
  if (front.state == FrontState::kBad)
    return Bad("packet length out of range");
  if (front.state != FrontState::kWhole)
    return Bad("no whole packet at the front");

  PacketReading reading;
  reading.command = front.command;
  try {
    sox::Unpack up(bytes, front.length);
    HEADER header;
    header.unmarshal(up);
    if (header.command != kVideoCommand) {
      up.pop_fetch_ptr(header.length - kHeaderSize);
      reading.kind = header.command == kKeyFrameRequestCommand ? PacketKind::kKeyFrameRequest
                                                               : PacketKind::kSkipped;
      reading.length = front.length;
      return reading;
    }
    VideoRecord& video = reading.video;
    DATA::unmarshal_info(up, video.info);
    video.payload_length = up.pop_uint16();
    video.payload = up.pop_fetch_ptr(video.payload_length);
  } catch (const sox::UnpackError&) {
    return Bad("video record runs past its packet");
  }
  const FrameInfo& info = reading.video.info;
  reading.kind = info.width == 0 || info.height == 0 ? PacketKind::kDropped : PacketKind::kVideo;
  reading.length = front.length;
  return reading;
}

}  // namespace VIDEODATA
