// The library's one export.
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "external/ivcodec.h"
#include "xvid_codec.h"

extern "C" IVCodec* IVCodec_Creater() {
  // An object that could play only one of its two roles would fail later,
  // where the caller cannot tell why; refuse it here instead.
  if (avcodec_find_encoder(AV_CODEC_ID_MPEG4) == nullptr ||
      avcodec_find_decoder(AV_CODEC_ID_MPEG4) == nullptr)
    return nullptr;
  try {
    // The caller owns the object and deletes it through IVCodec's destructor.
    return std::make_unique<vcodec::XvidCodec>().release();
  } catch (...) {
    return nullptr;
  }
}
