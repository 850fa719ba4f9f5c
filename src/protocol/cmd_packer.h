// A writer that starts with a command header.
#pragma once

#include "protocol/block_buffer.h"
#include "protocol/marshallable.h"
#include "protocol/sox_pack.h"

namespace VIDEODATA {

// Opens a writer at the buffer's end (no reserve, no byte swap) and writes
// the header; whatever is marshalled next follows it.
class CMDPacker : public sox::Pack {
 public:
  CMDPacker(sox::PackBuffer& bb, const sox::Marshallable& header) : sox::Pack(bb, 0, false) {
    header.marshal(*this);
  }
};

}  // namespace VIDEODATA
