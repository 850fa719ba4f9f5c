// 32-bit bottom-up pictures to MPEG-4 Part 2 (simple profile, no B-frames),
// one packet per picture, each small enough for one video packet.
#pragma once

#include <cstdint>

#include "av_handles.h"
#include "codec_params.h"

namespace vcodec {

// The most bytes one encoded frame may take: the video record carries its
// payload's length as a u16.
inline constexpr std::uint32_t kMaxFrameBytes = 65535;

class Mpeg4Encoder {
 public:
  // `params` must be usable. Throws std::runtime_error when libavcodec
  // cannot be set up.
  explicit Mpeg4Encoder(const CodecParams& params);

  // Encodes one picture (params.PictureBytes() bytes, rows bottom-up) into
  // `out`, writing at most min(capacity, kMaxFrameBytes) bytes; returns the
  // length (0 when not even the coarsest frame fits) and sets `key`. Throws
  // std::runtime_error when the library fails.
  std::uint32_t Encode(const std::uint8_t* picture, std::uint8_t* out, std::uint32_t capacity,
                       bool* key);
  // The next Encode sends an intra picture (pict_type I), not a predicted one.
  void ForceKeyFrame() { key_due_ = true; }

 private:
  // Sends the converted picture to `context`; the packet it makes is left in
  // packet_ (false when it made none).
  bool EncodeWith(AVCodecContext* context);
  // The intra-only encoder at the coarsest quantiser, made when first needed.
  AVCodecContext* Coarse();

  CodecParams params_;
  CodecContextPtr main_;
  CodecContextPtr coarse_;
  FramePtr frame_;
  PacketPtr packet_;
  std::int64_t pts_ = 0;
  // The receiver never got the main encoder's last picture, so the next one
  // must not be predicted from it.
  bool key_due_ = false;
};

}  // namespace vcodec
