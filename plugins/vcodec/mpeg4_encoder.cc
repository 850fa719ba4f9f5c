#include "mpeg4_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/rational.h>
}

#include "av_failure.h"
#include "i420_conversion.h"

namespace vcodec {
namespace {

// The largest quantiser MPEG-4 Part 2 has.
constexpr int kCoarsestQuantiser = 31;
// Below this the rate control has nothing to work with.
constexpr double kMinBitrate = 8000;

AVRational FrameRate(float frame_rate) {
  // The bitstream times frames in at most 65535 ticks per second.
  AVRational rate = av_d2q(frame_rate, 65535);
  if (rate.num <= 0 || rate.den <= 0)
    rate = AVRational{1, 65535};
  return rate;
}

// Settings both encoders share: size, timing, no B-frames, no delay.
CodecContextPtr NewContext(const AVCodec* codec, const CodecParams& params) {
  CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context)
    ThrowFailure("avcodec_alloc_context3: out of memory");
  const AVRational rate = FrameRate(params.frame_rate);
  context->width = params.width;
  context->height = params.height;
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  context->framerate = rate;
  context->time_base = av_inv_q(rate);
  context->max_b_frames = 0;
  context->thread_count = 1;
  context->log_level_offset = kQuietLogOffset;
  return context;
}

void Open(AVCodecContext* context, const AVCodec* codec, const char* what) {
  const int error = avcodec_open2(context, codec, nullptr);
  if (error < 0)
    ThrowAvError(what, error);
}

}  // namespace

Mpeg4Encoder::Mpeg4Encoder(const CodecParams& params) : params_(params) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  if (codec == nullptr)
    ThrowFailure("libavcodec has no MPEG-4 encoder");
  main_ = NewContext(codec, params);

  // A key frame at least every two seconds, so that a late joiner sees video
  // within two seconds.
  const double rate = av_q2d(main_->framerate);
  main_->gop_size = std::max(1, static_cast<int>(std::floor(2.0 * rate)));

  // Left alone, the rate control overshoots its target by half again or
  // more; a buffer of one second at the target rate bounds it. A frame may
  // take at most a third of the buffer, so capping the buffer keeps most
  // frames within one packet, and the rate is capped where frames would
  // average half a packet. What still comes out too big is redone in Encode.
  const double max_bits = 8.0 * kMaxFrameBytes;
  const double bitrate = std::clamp<double>(params.bitrate, kMinBitrate, max_bits * rate / 2);
  const double buffer = std::min(std::max(bitrate, bitrate / rate), 2 * max_bits);
  main_->bit_rate = static_cast<std::int64_t>(bitrate);
  main_->rc_max_rate = main_->bit_rate;
  main_->rc_buffer_size = static_cast<int>(buffer);
  main_->rc_initial_buffer_occupancy = main_->rc_buffer_size * 3 / 4;
  Open(main_.get(), codec, "avcodec_open2 (MPEG-4 encoder)");

  frame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  if (!frame_ || !packet_)
    ThrowFailure("av_frame_alloc/av_packet_alloc: out of memory");
  frame_->format = AV_PIX_FMT_YUV420P;
  frame_->width = params.width;
  frame_->height = params.height;
  const int error = av_frame_get_buffer(frame_.get(), 0);
  if (error < 0)
    ThrowAvError("av_frame_get_buffer", error);
}

AVCodecContext* Mpeg4Encoder::Coarse() {
  if (!coarse_) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    CodecContextPtr context = NewContext(codec, params_);
    context->gop_size = 1;  // every frame a key frame
    context->flags |= AV_CODEC_FLAG_QSCALE;
    context->global_quality = kCoarsestQuantiser * FF_QP2LAMBDA;
    Open(context.get(), codec, "avcodec_open2 (coarse MPEG-4 encoder)");
    coarse_ = std::move(context);
  }
  return coarse_.get();
}

bool Mpeg4Encoder::EncodeWith(AVCodecContext* context) {
  int error = avcodec_send_frame(context, frame_.get());
  if (error < 0)
    ThrowAvError("avcodec_send_frame", error);
  error = avcodec_receive_packet(context, packet_.get());
  if (error == AVERROR(EAGAIN))
    return false;
  if (error < 0)
    ThrowAvError("avcodec_receive_packet", error);
  return true;
}

std::uint32_t Mpeg4Encoder::Encode(const std::uint8_t* picture, std::uint8_t* out,
                                   std::uint32_t capacity, bool* key) {
  *key = false;
  // The encoder may still hold the last picture as its reference.
  int error = av_frame_make_writable(frame_.get());
  if (error < 0)
    ThrowAvError("av_frame_make_writable", error);

  if (!BgraToI420(picture, params_.width, params_.height, {frame_->data, frame_->linesize}))
    ThrowFailure("BGRA to I420 failed");

  const std::uint32_t limit = std::min(capacity, kMaxFrameBytes);
  frame_->pts = pts_++;
  frame_->pict_type = key_due_ ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  frame_->quality = 0;
  if (!EncodeWith(main_.get()))
    return 0;
  std::uint32_t length = 0;
  if (static_cast<std::uint32_t>(packet_->size) <= limit) {
    key_due_ = false;
  } else {
    // Too big for one packet, or for the caller's buffer: send the picture
    // again as a coarse key frame; the main encoder starts over from a key.
    key_due_ = true;
    av_packet_unref(packet_.get());
    frame_->pict_type = AV_PICTURE_TYPE_I;
    frame_->quality = kCoarsestQuantiser * FF_QP2LAMBDA;
    if (!EncodeWith(Coarse()))
      return 0;
    if (static_cast<std::uint32_t>(packet_->size) > limit) {
      av_packet_unref(packet_.get());
      return 0;  // nothing fits: the frame is dropped
    }
  }
  length = static_cast<std::uint32_t>(packet_->size);
  std::memcpy(out, packet_->data, length);
  *key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
  av_packet_unref(packet_.get());
  return length;
}

}  // namespace vcodec
