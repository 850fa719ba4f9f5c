#include "protocol/video_packet_builder.h"

#include "protocol/cmd_packer.h"
#include "protocol/video_data.h"
#include "protocol/video_header.h"
#include "protocol/video_packet_limits.h"

namespace VIDEODATA {

std::span<const std::uint8_t> BuildVideoPacket(sox::PackBuffer& buffer, const FrameInfo& info,
                                               const void* payload, std::size_t payload_length) {
  if (payload_length <= kMaxVideoPayload) {
    // Room for the whole packet up front: one allocation instead of two for
    // packets past one block. Should it fail, the writes below report it.
    buffer.increase_capacity(kVideoFixedSize + payload_length);
  }
  HEADER header;
  header.command = kVideoCommand;
  CMDPacker packer(buffer, header);
  DATA::marshal_record(packer, info, payload, payload_length);
  // The header's length is only known now: the writer's first four bytes.
  packer.replace_uint32(packer.offset(), packer.size());
  return {packer.data(), packer.size()};
}

std::span<const std::uint8_t> BuildKeyFrameRequest(sox::PackBuffer& buffer) {
  HEADER header;
  header.length = kHeaderSize;
  header.command = kKeyFrameRequestCommand;
  CMDPacker packer(buffer, header);
  return {packer.data(), packer.size()};
}

}  // namespace VIDEODATA
