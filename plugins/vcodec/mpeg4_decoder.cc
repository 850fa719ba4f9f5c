#include "mpeg4_decoder.h"

#include <cstring>

extern "C" {
#include <libavutil/error.h>
}

#include "av_failure.h"
#include "i420_conversion.h"

namespace vcodec {
namespace {

// Errors that say the library itself is in trouble, not the packet.
bool LibraryFailure(int error) {
  return error == AVERROR(ENOMEM) || error == AVERROR_BUG || error == AVERROR_BUG2 ||
         error == AVERROR_EXTERNAL;
}

}  // namespace

Mpeg4Decoder::Mpeg4Decoder(std::int32_t width, std::int32_t height)
    : width_(width), height_(height) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  if (codec == nullptr)
    ThrowFailure("libavcodec has no MPEG-4 decoder");
  context_.reset(avcodec_alloc_context3(codec));
  frame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  if (!context_ || !frame_ || !packet_)
    ThrowFailure("libavcodec: out of memory");
  context_->width = width;
  context_->height = height;
  // A peer's stream naming a much larger picture is refused before the
  // library allocates for it. The library counts its own buffers, aligned and
  // with edges, against this, hence the headroom.
  context_->max_pixels = 4 * (static_cast<std::int64_t>(width) + 128) * (height + 128);
  context_->thread_count = 1;
  context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
  context_->log_level_offset = kQuietLogOffset;
  const int error = avcodec_open2(context_.get(), codec, nullptr);
  if (error < 0)
    ThrowAvError("avcodec_open2 (MPEG-4 decoder)", error);
}

bool Mpeg4Decoder::Decode(const std::uint8_t* data, std::uint32_t length, std::uint8_t* picture) {
  if (length == 0 || length > static_cast<std::uint32_t>(INT32_MAX - AV_INPUT_BUFFER_PADDING_SIZE))
    return false;  // an empty packet would end the stream
  if (input_.size() < length + std::size_t{AV_INPUT_BUFFER_PADDING_SIZE})
    input_.resize(length + std::size_t{AV_INPUT_BUFFER_PADDING_SIZE});
  std::memcpy(input_.data(), data, length);
  std::memset(input_.data() + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  packet_->data = input_.data();
  packet_->size = static_cast<int>(length);

  int error = avcodec_send_packet(context_.get(), packet_.get());
  if (error == AVERROR(EAGAIN)) {
    // Pictures of an earlier packet still wait: they are stale now.
    while (avcodec_receive_frame(context_.get(), frame_.get()) == 0)
      av_frame_unref(frame_.get());
    error = avcodec_send_packet(context_.get(), packet_.get());
  }
  packet_->data = nullptr;
  packet_->size = 0;
  if (error < 0) {
    if (LibraryFailure(error))
      ThrowAvError("avcodec_send_packet", error);
    return false;
  }

  // One packet normally makes one picture; a packet holding several shows
  // the last of them.
  bool shown = false;
  while ((error = avcodec_receive_frame(context_.get(), frame_.get())) == 0) {
    shown = Convert(picture);
    av_frame_unref(frame_.get());
  }
  if (error != AVERROR(EAGAIN) && error != AVERROR_EOF && LibraryFailure(error))
    ThrowAvError("avcodec_receive_frame", error);
  return shown;
}

bool Mpeg4Decoder::Convert(std::uint8_t* picture) {
  // The MPEG-4 decoder makes 4:2:0 studio-range pictures; anything else is
  // not a stream of ours.
  if (frame_->width != width_ || frame_->height != height_ || frame_->format != AV_PIX_FMT_YUV420P)
    return false;
  return I420ToBgra({frame_->data, frame_->linesize}, width_, height_, picture);
}

}  // namespace vcodec
