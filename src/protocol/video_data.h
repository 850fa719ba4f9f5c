// The video record: one encoded frame.
#pragma once

#include <cstddef>
#include <string>

#include "protocol/frame_info.h"
#include "protocol/marshallable.h"

namespace VIDEODATA {

struct DATA : public sox::Marshallable, public FrameInfo {
  std::string payload;  // the encoder's output; at most 65535 bytes

  void marshal(sox::Pack& p) const override;
  void unmarshal(sox::Unpack& up) override;

  // The record's bytes from its fields and a payload held elsewhere, so that
  // a packet can be built without copying the payload first.
  static void marshal_record(sox::Pack& p, const FrameInfo& info, const void* payload,
                             std::size_t payload_length);
  // Reads every field before the payload.
  static void unmarshal_info(sox::Unpack& up, FrameInfo& info);
};

}  // namespace VIDEODATA
