#include "support/fake_codec.h"

#include <cstring>
#include <stdexcept>

namespace vc_test {

std::string Params(std::int32_t width, std::int32_t height, float frame_rate, std::uint32_t bitrate,
                   std::uint32_t bits) {
  return std::to_string(width) + "x" + std::to_string(height) + " " +
         std::to_string(static_cast<int>(frame_rate)) + " " + std::to_string(bitrate) + " " +
         std::to_string(bits);
}

FakeCodec::FakeCodec(std::shared_ptr<CodecJournal> journal, int id)
    : journal_(std::move(journal)), id_(id) {}

FakeCodec::~FakeCodec() {
  journal_->Add("destroy " + Name());
  if (journal_->on_destroy)
    journal_->on_destroy(id_);
}

std::int32_t FakeCodec::encode(const std::uint8_t*, std::uint32_t size, std::uint8_t*,
                               std::uint32_t* out_length, std::uint8_t* key_frame) {
  journal_->Add("encode " + Name() + " " + std::to_string(size));
  if (journal_->throw_encodes > 0) {
    --journal_->throw_encodes;
    throw std::runtime_error("fake encode failure");
  }
  *out_length = 0;
  if (key_frame != nullptr)
    *key_frame = key_due_ ? 1 : 0;
  key_due_ = false;
  return 0;
}

void FakeCodec::force_key_frame() {
  journal_->Add("force " + Name());
  key_due_ = true;
}

std::int32_t FakeCodec::open(std::int32_t width, std::int32_t height, float frame_rate,
                             std::uint32_t bitrate, std::uint32_t bits_per_pixel) {
  journal_->Add("open " + Name() + " " +
                Params(width, height, frame_rate, bitrate, bits_per_pixel));
  opened_ = true;
  width_ = width;
  height_ = height;
  frame_rate_ = frame_rate;
  bitrate_ = bitrate;
  bits_ = bits_per_pixel;
  return 0;
}

std::int32_t FakeCodec::check(std::int32_t width, std::int32_t height, float frame_rate,
                              std::uint32_t bitrate, std::uint32_t bits_per_pixel) {
  journal_->Add("check " + Name() + " " +
                Params(width, height, frame_rate, bitrate, bits_per_pixel));
  const bool same = opened_ && width == width_ && height == height_ && frame_rate == frame_rate_ &&
                    bitrate == bitrate_ && bits_per_pixel == bits_;
  return same || journal_->check_says_same ? -1 : 0;
}

// Writes the whole picture of the opened parameters, as a real decoder
// would: stride x height bytes, rows bottom-up.
bool FakeCodec::decode(const std::uint8_t* data, std::uint32_t length, std::uint8_t* picture,
                       std::uint32_t* picture_length) {
  journal_->Add("decode " + Name() + " " + std::to_string(length));
  if (journal_->on_decode)
    journal_->on_decode();
  if (journal_->throw_decodes > 0) {
    --journal_->throw_decodes;
    throw std::runtime_error("fake decode failure");
  }
  if (!journal_->decode_answer || !opened_)
    return false;
  const std::uint8_t tag = length > 0 ? data[0] : 0;
  const std::size_t stride = static_cast<std::size_t>(bits_ / 8) * width_;
  const std::size_t bytes = stride * height_;
  const bool whole = bytes <= journal_->max_filled_bytes;
  for (int row = 0; row < height_; ++row) {
    if (!whole && row != 0 && row != height_ - 1)
      continue;
    auto* line = picture + stride * row;
    for (int col = 0; col < width_; ++col) {
      const std::uint32_t pixel = FakePixel(tag, col, row);
      std::memcpy(line + static_cast<std::size_t>(col) * 4, &pixel, 4);
    }
  }
  *picture_length = static_cast<std::uint32_t>(bytes);
  return bytes <= journal_->max_decoded_bytes;
}

kalo::video::CodecFactory FakeCodecFactory(std::shared_ptr<CodecJournal> journal) {
  return [journal]() -> std::unique_ptr<IVCodec> {
    if (journal->fail_creates > 0) {
      --journal->fail_creates;
      journal->Add("create none");
      return nullptr;
    }
    const int id = ++journal->made;
    journal->Add(std::string("create #").append(std::to_string(id)));
    return std::make_unique<FakeCodec>(journal, id);
  };
}

}  // namespace vc_test
