#include "protocol/video_data.h"

namespace VIDEODATA {

void DATA::marshal_record(sox::Pack& p, const FrameInfo& info, const void* payload,
                          std::size_t payload_length) {
  p.push_uint32(info.seq);
  p.push_uint8(info.key_frame);
  p.push_uint16(info.width);
  p.push_uint16(info.height);
  p.push_uint16(info.frame_rate);
  p.push_uint32(info.bitrate);
  p.push_uint16(info.bit_count);
  p.push_uint64(info.timestamp);
  p.push_varstr(payload, payload_length);
}

void DATA::unmarshal_info(sox::Unpack& up, FrameInfo& info) {
  info.seq = up.pop_uint32();
  info.key_frame = up.pop_uint8();
  info.width = up.pop_uint16();
  info.height = up.pop_uint16();
  info.frame_rate = up.pop_uint16();
  info.bitrate = up.pop_uint32();
  info.bit_count = up.pop_uint16();
  info.timestamp = up.pop_uint64();
}

void DATA::marshal(sox::Pack& p) const {
  marshal_record(p, *this, payload.data(), payload.size());
}

void DATA::unmarshal(sox::Unpack& up) {
  unmarshal_info(up, *this);
  payload = up.pop_varstr();
}

}  // namespace VIDEODATA
