#include "session/codec_factory.h"

// A weak reference: bound when the module is linked with the codec library
// (or the process already carries one), null otherwise, so that a missing
// library costs frames, not the module.
#pragma weak IVCodec_Creater

namespace kalo::video {

bool CodecLibraryPresent() {
  return &IVCodec_Creater != nullptr;
}

std::unique_ptr<IVCodec> CreateLibraryCodec() {
  if (!CodecLibraryPresent())
    return nullptr;
  return std::unique_ptr<IVCodec>(IVCodec_Creater());
}

}  // namespace kalo::video
