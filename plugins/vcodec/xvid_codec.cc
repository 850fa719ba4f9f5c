#include "xvid_codec.h"

#include "mpeg4_decoder.h"
#include "mpeg4_encoder.h"

namespace vcodec {

XvidCodec::XvidCodec() = default;
XvidCodec::~XvidCodec() = default;

std::int32_t XvidCodec::open(std::int32_t width, std::int32_t height, float frame_rate,
                             std::uint32_t bitrate, std::uint32_t bits_per_pixel) {
  encoder_.reset();
  decoder_.reset();
  params_.reset();
  const CodecParams params{width, height, frame_rate, bitrate, bits_per_pixel};
  if (!ParamsUsable(params))
    return -1;
  params_ = params;
  return 0;
}

std::int32_t XvidCodec::check(std::int32_t width, std::int32_t height, float frame_rate,
                              std::uint32_t bitrate, std::uint32_t bits_per_pixel) {
  const CodecParams asked{width, height, frame_rate, bitrate, bits_per_pixel};
  return params_ && SameParams(*params_, asked) ? -1 : 0;
}

std::int32_t XvidCodec::encode(const std::uint8_t* picture, std::uint32_t size, std::uint8_t* out,
                               std::uint32_t* out_length, std::uint8_t* key_frame) {
  if (out_length != nullptr)
    *out_length = 0;
  if (key_frame != nullptr)
    *key_frame = 0;
  if (!params_ || picture == nullptr || out == nullptr || out_length == nullptr ||
      size < params_->PictureBytes())
    return -1;
  if (!encoder_)
    encoder_ = std::make_unique<Mpeg4Encoder>(*params_);
  bool key = false;
  *out_length = encoder_->Encode(picture, out, size, &key);
  if (key_frame != nullptr)
    *key_frame = key ? 1 : 0;
  return 0;
}

// A new encoder starts with a key frame: only a running one is told.
void XvidCodec::force_key_frame() {
  if (encoder_)
    encoder_->ForceKeyFrame();
}

bool XvidCodec::decode(const std::uint8_t* data, std::uint32_t length, std::uint8_t* picture,
                       std::uint32_t* picture_length) {
  if (picture_length != nullptr)
    *picture_length = 0;
  if (!params_ || data == nullptr || picture == nullptr)
    return false;
  if (!decoder_)
    decoder_ = std::make_unique<Mpeg4Decoder>(params_->width, params_->height);
  if (!decoder_->Decode(data, length, picture))
    return false;
  if (picture_length != nullptr)
    *picture_length = params_->PictureBytes();
  return true;
}

}  // namespace vcodec
