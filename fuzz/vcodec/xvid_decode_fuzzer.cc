// Arbitrary packets from a peer into one decoder: never a crash, never a
// write outside the picture, never a picture of the wrong size reported.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "external/ivcodec.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
  (void)quiet;
  if (size < 1)
    return 0;
  const auto [width, height] = vcodec_fuzz::SizeFor(data[0]);
  std::unique_ptr<IVCodec> codec(IVCodec_Creater());
  if (!codec)
    std::abort();
  codec->open(width, height, 15.0f, 100000, 32);
  // Exactly the picture's bytes, so that ASan sees any write past it.
  std::vector<std::uint8_t> picture(static_cast<std::size_t>(width) * height * 4);
  for (const auto packet : vcodec_fuzz::Packets({data + 1, size - 1})) {
    std::uint32_t length = 0;
    try {
      const bool shown = codec->decode(packet.data(), static_cast<std::uint32_t>(packet.size()),
                                       picture.data(), &length);
      if (length != (shown ? picture.size() : 0))
        std::abort();
    } catch (const std::runtime_error&) {
      // A library failure, reported as the callers expect it.
    }
  }
  return 0;
}
