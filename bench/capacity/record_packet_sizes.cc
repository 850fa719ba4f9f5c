// Writes the sizes of the video packets of two seconds of a 352x288@15
// stream at 100 kbit/s (one key-frame interval, so that the capacity run can
// loop over them), made by the codec library from the codec tests' moving
// picture and wrapped as the module wraps them, one size a line.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "external/ivcodec.h"
#include "moving_picture.h"
#include "protocol/video_packet_builder.h"

int main() {
  constexpr int kWidth = 352, kHeight = 288, kRate = 15;
  constexpr std::uint32_t kBitrate = 100000;
  std::unique_ptr<IVCodec> codec(IVCodec_Creater());
  if (!codec)
    return 1;
  codec->open(kWidth, kHeight, kRate, kBitrate, 32);
  std::printf("# video packets of 2 s of 352x288@15, 100 kbit/s, one a line\n");
  for (int t = 0; t < 2 * kRate; ++t) {
    std::vector<std::uint8_t> picture = vcodec_test::MovingPicture(kWidth, kHeight, t);
    std::vector<std::uint8_t> out(picture.size());
    std::uint32_t length = 0;
    std::uint8_t key = 0;
    codec->encode(picture.data(), static_cast<std::uint32_t>(picture.size()), out.data(), &length,
                  &key);
    VIDEODATA::FrameInfo info;
    info.seq = static_cast<std::uint32_t>(t);
    info.key_frame = key;
    info.width = kWidth;
    info.height = kHeight;
    info.frame_rate = kRate;
    info.bitrate = kBitrate;
    info.bit_count = 32;
    sox::PackBuffer buffer;
    std::printf("%zu\n", VIDEODATA::BuildVideoPacket(buffer, info, out.data(), length).size());
  }
  return 0;
}
