// The command header in front of every packet.
#pragma once

#include <cstdint>

#include "protocol/marshallable.h"

namespace VIDEODATA {

// 9 bytes on the wire: length, command, reserved.
struct HEADER : public sox::Marshallable {
  std::uint32_t length = 0;   // the whole packet, header included
  std::uint32_t command = 0;  // 7: a video record follows
  std::uint8_t reserved = 0;  // no reader interprets it; this system sends 0

  void marshal(sox::Pack& p) const override;
  void unmarshal(sox::Unpack& up) override;
};

}  // namespace VIDEODATA
