// The codec library's object, as the module sees it: one type serves as
// encoder or as decoder, depending on the operations called.
#pragma once

#include <cstdint>

// Bound by slot position (decode, encode, open, check, a slot never called,
// destructor, force_key_frame). Pictures are 32-bit pixels, rows bottom-up, stride 4 x width.
// encode and decode may throw.
class IVCodec {
 public:
  // 0: decodes one frame into `picture`, which holds stride x height bytes of
  // the parameters given to open; true when the picture was written.
  virtual bool decode(const std::uint8_t* data, std::uint32_t length, std::uint8_t* picture,
                      std::uint32_t* picture_length) = 0;
  // 1: encodes one picture of `size` bytes into `out`, which holds `size`
  // bytes; sets the output length and `key_frame` (1 for a key frame).
  virtual std::int32_t encode(const std::uint8_t* picture, std::uint32_t size, std::uint8_t* out,
                              std::uint32_t* out_length, std::uint8_t* key_frame) = 0;
  // 2
  virtual std::int32_t open(std::int32_t width, std::int32_t height, float frame_rate,
                            std::uint32_t bitrate, std::uint32_t bits_per_pixel) = 0;
  // 3: -1 when the object already works with these parameters.
  virtual std::int32_t check(std::int32_t width, std::int32_t height, float frame_rate,
                             std::uint32_t bitrate, std::uint32_t bits_per_pixel) = 0;
  virtual void Reserved4() {}
  // 5
  virtual ~IVCodec() = default;
  // After the existing slots, so the older ones keep their places: the next
  // encode makes a key frame (a receiver lost its picture or has none yet).
  // An encoder not yet made starts with one anyway; a decoder ignores it.
  virtual void force_key_frame() = 0;

 protected:
  IVCodec() = default;
  IVCodec(const IVCodec&) = default;
  IVCodec& operator=(const IVCodec&) = default;
};

// The codec library's one export: a new codec object, or null.
extern "C" __attribute__((visibility("default"))) IVCodec* IVCodec_Creater();
