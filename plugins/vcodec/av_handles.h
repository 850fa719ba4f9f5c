// Owning handles for the libavcodec and libavutil objects.
#pragma once

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace vcodec {

struct CodecContextFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;

// libavcodec's messages for our contexts are shifted this many levels down,
// so that a damaged stream from a peer does not fill the host's stderr; the
// host's own log level stays as the host set it.
inline constexpr int kQuietLogOffset = AV_LOG_DEBUG - AV_LOG_ERROR;

}  // namespace vcodec
