// A codec that decodes every payload into a known picture, and writes down
// what it is asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "external/ivcodec.h"
#include "session/codec_factory.h"

namespace vc_test {

// Shared by a factory and every codec it makes; the test steers and reads it.
struct CodecJournal {
  // "create #n", "create none", "check #n WxH rate bitrate bits", "open #n WxH
  // rate bitrate bits", "decode #n <length>", "encode #n <size>", "force #n",
  // "destroy #n", in order. An encode writes nothing and sets the length 0;
  // it reports a key frame only after force_key_frame.
  std::vector<std::string> calls;
  bool record = true;
  int made = 0;
  // The next this many creations answer null.
  int fail_creates = 0;
  // The next this many decodes throw std::runtime_error.
  int throw_decodes = 0;
  // The next this many encodes throw std::runtime_error("fake encode failure").
  int throw_encodes = 0;
  // What decode answers.
  bool decode_answer = true;
  // A codec that calls every parameter set the one it works with.
  bool check_says_same = false;
  // Runs inside every decode, before it answers.
  std::function<void()> on_decode;
  // Runs inside every codec's destructor, with its number.
  std::function<void(int id)> on_destroy;
  // Pictures larger than this are written only at their first and last row,
  // which still finds a picture too short for its parameters.
  std::size_t max_filled_bytes = SIZE_MAX;
  // Pictures larger than this are refused (after being written as above).
  std::size_t max_decoded_bytes = SIZE_MAX;

  void Add(const std::string& call) {
    if (record)
      calls.push_back(call);
  }
};

// The pixel the fake decoder writes at (col, row), rows counted in memory
// order (row 0 is the bottom row), for a payload whose first byte is `tag`:
// the same pattern as the display tests' Picture with seed `tag`.
inline std::uint32_t FakePixel(std::uint8_t tag, int col, int row) {
  return 0xA5000000u | static_cast<std::uint32_t>(tag & 0xF) << 20 |
         static_cast<std::uint32_t>(row & 0x3FF) << 10 | static_cast<std::uint32_t>(col & 0x3FF);
}

class FakeCodec final : public IVCodec {
 public:
  FakeCodec(std::shared_ptr<CodecJournal> journal, int id);
  ~FakeCodec() override;

  bool decode(const std::uint8_t* data, std::uint32_t length, std::uint8_t* picture,
              std::uint32_t* picture_length) override;
  std::int32_t encode(const std::uint8_t*, std::uint32_t, std::uint8_t*, std::uint32_t*,
                      std::uint8_t*) override;
  // Works with what it was opened with; check answers -1 for exactly those.
  std::int32_t open(std::int32_t width, std::int32_t height, float frame_rate,
                    std::uint32_t bitrate, std::uint32_t bits_per_pixel) override;
  std::int32_t check(std::int32_t width, std::int32_t height, float frame_rate,
                     std::uint32_t bitrate, std::uint32_t bits_per_pixel) override;
  void force_key_frame() override;

 private:
  // Appended rather than "#" + text, which gcc 12 at -O3 warns about wrongly.
  std::string Name() const { return std::string("#").append(std::to_string(id_)); }

  std::shared_ptr<CodecJournal> journal_;
  int id_;
  bool opened_ = false;
  bool key_due_ = false;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  float frame_rate_ = 0;
  std::uint32_t bitrate_ = 0;
  std::uint32_t bits_ = 0;
};

// Makes FakeCodecs numbered 1, 2, ... that share `journal`.
kalo::video::CodecFactory FakeCodecFactory(std::shared_ptr<CodecJournal> journal);

std::string Params(std::int32_t width, std::int32_t height, float frame_rate, std::uint32_t bitrate,
                   std::uint32_t bits);

}  // namespace vc_test
