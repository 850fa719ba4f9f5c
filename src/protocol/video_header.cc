#include "protocol/video_header.h"

namespace VIDEODATA {

void HEADER::marshal(sox::Pack& p) const {
  p.push_uint32(length);
  p.push_uint32(command);
  p.push_uint8(reserved);
}

void HEADER::unmarshal(sox::Unpack& up) {
  length = up.pop_uint32();
  command = up.pop_uint32();
  reserved = up.pop_uint8();
}

}  // namespace VIDEODATA
