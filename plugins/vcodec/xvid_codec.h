// The codec object the module gets from IVCodec_Creater: one type for both
// roles; the encoder or decoder behind it is made on the first encode or
// decode after open.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "codec_params.h"
#include "external/ivcodec.h"

namespace vcodec {

class Mpeg4Decoder;
class Mpeg4Encoder;

class XvidCodec final : public IVCodec {
 public:
  XvidCodec();
  ~XvidCodec() override;

  // False (nothing written) before a usable open, for an empty or foreign
  // packet, and for a stream of another size.
  bool decode(const std::uint8_t* data, std::uint32_t length, std::uint8_t* picture,
              std::uint32_t* picture_length) override;
  // 0 with a packet (possibly of 0 bytes) in `out`; -1 with an empty output
  // before a usable open or for a picture shorter than the opened size.
  std::int32_t encode(const std::uint8_t* picture, std::uint32_t size, std::uint8_t* out,
                      std::uint32_t* out_length, std::uint8_t* key_frame) override;
  // 0 when the object can work with the values; -1 when they are unusable,
  // which leaves it unable to encode or decode until the next open.
  std::int32_t open(std::int32_t width, std::int32_t height, float frame_rate,
                    std::uint32_t bitrate, std::uint32_t bits_per_pixel) override;
  // -1 when a usable open was given exactly these values.
  std::int32_t check(std::int32_t width, std::int32_t height, float frame_rate,
                     std::uint32_t bitrate, std::uint32_t bits_per_pixel) override;
  // The next encode makes an intra picture; before the first encode, nothing
  // to do: a new encoder starts with one.
  void force_key_frame() override;

 private:
  std::optional<CodecParams> params_;  // from the last usable open
  std::unique_ptr<Mpeg4Encoder> encoder_;
  std::unique_ptr<Mpeg4Decoder> decoder_;
};

}  // namespace vcodec
