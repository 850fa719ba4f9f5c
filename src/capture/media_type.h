// What a camera picture is, as the capture graph and the sample path
// describe it: the pieces of a media type and its bitmap header that matter.
#pragma once

#include <cstdint>

enum class MediaSubtype : std::uint8_t {
  kRGB24,   // bytes blue, green, red; rows bottom-up
  kYUY2,    // Y0 U Y1 V; rows top-down
  kMJPG,    // one JPEG picture per sample
  kARGB32,  // bytes blue, green, red, alpha; rows bottom-up
  kRGB32,   // as ARGB32 with an undefined fourth byte
  kOther,
};

struct MediaType {
  bool video = true;  // the major type is video
  MediaSubtype subtype = MediaSubtype::kOther;
  std::int32_t width = 0;      // biWidth
  std::int32_t height = 0;     // biHeight
  std::int16_t bit_count = 0;  // biBitCount
};
