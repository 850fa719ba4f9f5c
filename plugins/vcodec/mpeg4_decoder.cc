#include "mpeg4_decoder.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/error.h>
}

#include "av_failure.h"

namespace vcodec {
namespace {

// Errors that say the library itself is in trouble, not the packet.
bool LibraryFailure(int error) {
  return error == AVERROR(ENOMEM) || error == AVERROR_BUG || error == AVERROR_BUG2 ||
         error == AVERROR_EXTERNAL;
}

// Bytes a converted row may run past its width, and what they hold before.
// The converter writes opaque pixels, so its fourth bytes never equal this.
constexpr int kRowSlack = 64;
constexpr std::uint8_t kSpareMark = 0xA5;

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

  bgra_stride_ = (width * 4 + kRowSlack + 63) / 64 * 64;
  bgra_.resize(static_cast<std::size_t>(bgra_stride_) * height);
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
  if (frame_->width != width_ || frame_->height != height_)
    return false;
  // Kept from frame to frame; made anew only when the stream's pixel format
  // changes.
  SwsContext* context = sws_getCachedContext(
      to_bgra_.release(), width_, height_, static_cast<AVPixelFormat>(frame_->format), width_,
      height_, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
  const bool new_context = context != to_bgra_probed_;
  to_bgra_.reset(context);
  if (context == nullptr)
    return false;  // a pixel format the converter does not know

  const int stride = width_ * 4;
  if (!new_context && direct_) {
    // Bottom-up rows: the top row goes last in memory.
    std::uint8_t* top = picture + static_cast<std::ptrdiff_t>(height_ - 1) * stride;
    const int negative_stride = -stride;
    return sws_scale(context, frame_->data, frame_->linesize, 0, height_, &top, &negative_stride) ==
           height_;
  }

  // libswscale's vector paths write rows in blocks of pixels, past the end of
  // a row whose width is not a multiple of the block. A new converter writes
  // into rows of our own whose spare room is marked; where the marks survive,
  // later frames go straight into the caller's picture.
  std::fill(bgra_.begin(), bgra_.end(), kSpareMark);
  std::uint8_t* rows = bgra_.data();
  if (sws_scale(context, frame_->data, frame_->linesize, 0, height_, &rows, &bgra_stride_) !=
      height_)
    return false;
  direct_ = true;
  for (std::int32_t y = 0; y < height_; ++y) {
    const std::uint8_t* row = rows + static_cast<std::size_t>(y) * bgra_stride_;
    direct_ = direct_ && std::all_of(row + stride, row + bgra_stride_,
                                     [](std::uint8_t b) { return b == kSpareMark; });
    std::memcpy(picture + static_cast<std::size_t>(height_ - 1 - y) * stride, row, stride);
  }
  to_bgra_probed_ = context;
  return true;
}

}  // namespace vcodec
