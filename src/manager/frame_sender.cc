#include "manager/frame_sender.h"

#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>
#include <utility>

#include "common/debug_log.h"
#include "external/picture_limits.h"
#include "protocol/video_packet_builder.h"

namespace kalo::video {

namespace {

constexpr std::int32_t kNormalStream = 0;
constexpr std::int32_t kSmallStream = 1;
constexpr std::uint32_t kBitsPerPixel = 32;

// Capture only makes frames of 32-bit pixels without row padding, within the
// picture limits; anything else is not read at all.
bool FrameUsable(const VideoFrame& frame) {
  return frame.data != nullptr && PictureSizeAllowed(frame.width, frame.height) &&
         frame.stride == frame.width * 4;
}

}  // namespace

FrameSender::FrameSender(CodecFactory encoder_factory, SteadyTimeSource steady_ms)
    : encoder_factory_(std::move(encoder_factory)), steady_ms_(std::move(steady_ms)) {}

FrameSender::~FrameSender() = default;

void FrameSender::FreeBitstreams() {
  for (Stream* stream : {&normal_, &small_}) {
    stream->bitstream.reset();
    stream->capacity = 0;
  }
}

bool FrameSender::EncodeAndSendFrame(const VideoFrame& frame, const SendSettings& settings,
                                     const SessionTable& sessions, bandwith_recorder& recorder,
                                     const ClockStamp& clock) {
  if (sessions.empty())
    return false;
  // Held back before any scaling or encoding: a skipped frame costs nothing more.
  if (recorder.cur_out(clock) >= settings.out_bw_valve)
    return false;
  if (settings.video_type != kNormalStream && settings.video_type != kSmallStream)
    return true;
  if (!FrameUsable(frame))
    return false;

  sending_ = true;
  const bool sent = EncodeAndSend(frame, settings, sessions, recorder, clock);
  sending_ = false;
  return sent;
}

bool FrameSender::EncodeAndSend(const VideoFrame& frame, const SendSettings& settings,
                                const SessionTable& sessions, bandwith_recorder& recorder,
                                const ClockStamp& clock) {
  last_.reset();
  if (settings.video_type == kNormalStream) {
    const auto size = static_cast<std::uint32_t>(frame.height * frame.stride);
    if (!PrepareEncoder(normal_, frame, size, settings) ||
        !EncodeInto(normal_, frame, size, settings))
      return false;
    if (asked_ && steady_ms_() - asked_at_ < kKeepPicturesFor)
      KeepPicture(frame, size);
  } else {
    // Whatever the camera delivers, the small stream carries 176 x 144.
    VideoFrame small;
    small.data = small_picture_.data();
    small.stride = kSmallWidth * 4;
    small.width = kSmallWidth;
    small.height = kSmallHeight;
    small.timestamp = frame.timestamp;
    if (!PrepareEncoder(small_, small, kSmallImageSize, settings))
      return false;
    converter_.ScaleNearest(small, frame);
    if (!EncodeInto(small_, small, kSmallImageSize, settings))
      return false;
    last_ = LastSent{small, kSmallImageSize, settings};
  }
  if (last_)
    last_->settings = settings;
  Dispatch(sessions);
  recorder.add_out(1, clock);
  return true;
}

// A copy of the normal stream's picture, in storage kept while it is big
// enough; without memory for one a request waits for the next frame.
void FrameSender::KeepPicture(const VideoFrame& frame, std::uint32_t size) {
  if (kept_capacity_ < size) {
    kept_.reset(new (std::nothrow) std::uint8_t[size]);
    kept_capacity_ = kept_ ? size : 0;
    if (!kept_)
      return;
  }
  std::memcpy(kept_.get(), frame.data, size);
  VideoFrame picture = frame;
  picture.data = kept_.get();
  last_ = LastSent{picture, size, {}};
}

bool FrameSender::AnswerKeyFrameRequest(const SessionTable& sessions, bandwith_recorder& recorder,
                                        const ClockStamp& clock) {
  key_requested_ = true;
  asked_ = true;
  asked_at_ = steady_ms_();
  // Inside a send, or with nothing sent yet, the next frame answers.
  if (sending_ || !last_ || sessions.empty())
    return false;
  Stream& stream = last_->settings.video_type == kNormalStream ? normal_ : small_;
  if (!stream.encoder || !stream.bitstream || stream.capacity < last_->size ||
      (stream.answered && steady_ms_() - stream.answered_at < kKeyFrameAnswerInterval))
    return false;
  if (recorder.cur_out(clock) >= last_->settings.out_bw_valve)
    return false;
  sending_ = true;
  // Copied: encoding may forget what was last sent.
  const LastSent last = *last_;
  const bool sent = EncodeInto(stream, last.picture, last.size, last.settings);
  if (sent) {
    Dispatch(sessions);
    recorder.add_out(1, clock);
  }
  sending_ = false;
  return sent;
}

// An encoder whose check names other parameters is replaced together with
// its buffer. A buffer smaller than the picture (a frame of the same size
// but a longer stride) is replaced too, since the encoder may fill as much
// as the picture holds.
bool FrameSender::PrepareEncoder(Stream& stream, const VideoFrame& picture, std::uint32_t size,
                                 const SendSettings& settings) {
  const auto frame_rate = static_cast<float>(settings.frame_rate);
  const auto bit_rate = static_cast<std::uint32_t>(settings.bit_rate);
  std::int32_t r = -1;
  if (stream.encoder) {
    r = stream.encoder->check(picture.width, picture.height, frame_rate, bit_rate, kBitsPerPixel);
    if (r != -1) {
      stream.bitstream.reset();
      stream.capacity = 0;
    }
  }
  if (stream.bitstream && stream.capacity < size) {
    stream.bitstream.reset();
    stream.capacity = 0;
  }
  if (!stream.bitstream) {
    try {
      stream.bitstream = std::make_unique_for_overwrite<std::uint8_t[]>(size);
      stream.capacity = size;
    } catch (const std::bad_alloc&) {
      DEBUG_LOG(6, "[VideoConfManager::EncodeAndSendFrame] %s_bitstream_ allocate failed",
                stream.name);
      return false;
    }
  }
  if (!stream.encoder || r != -1) {
    std::unique_ptr<IVCodec> fresh;
    try {
      fresh = encoder_factory_ ? encoder_factory_() : nullptr;
    } catch (const std::bad_alloc&) {
    }
    // The old encoder goes whether or not a new one came: the next frame
    // tries again from nothing.
    stream.encoder = std::move(fresh);
    if (!stream.encoder) {
      DEBUG_LOG(6, "[VideoConfManager::EncodeAndSendFrame] %s_encoder_ create failed", stream.name);
      return false;
    }
    stream.encoder->open(picture.width, picture.height, frame_rate, bit_rate, kBitsPerPixel);
  }
  return true;
}

bool FrameSender::EncodeInto(Stream& stream, const VideoFrame& picture, std::uint32_t size,
                             const SendSettings& settings) {
  std::uint8_t key = 0;
  std::uint32_t length = 0;
  try {
    ForceKeyFrameIfDue(stream);
    stream.encoder->encode(picture.data, size, stream.bitstream.get(), &length, &key);
  } catch (const std::runtime_error& e) {
    DEBUG_LOG(6, "[VideoConfManager::EncodeAndSendFrame] %s encode exception: %s", stream.name,
              e.what());
    return false;
  } catch (...) {
    DEBUG_LOG(6, "[VideoConfManager::EncodeAndSendFrame] %s encode exception: unknown",
              stream.name);
    return false;
  }
  if (length > stream.capacity) {
    DEBUG_LOG(6, "[VideoConfManager::EncodeAndSendFrame] %s buffer error", stream.name);
    return false;
  }
  // Any key frame answers what was asked, forced or of the encoder's own.
  if (key == 1)
    key_forced_ = key_requested_ = false;

  VIDEODATA::FrameInfo info;
  info.seq = frame_seq_++;
  info.key_frame = key;
  info.width = static_cast<std::uint16_t>(picture.width);
  info.height = static_cast<std::uint16_t>(picture.height);
  info.frame_rate = static_cast<std::uint16_t>(settings.frame_rate);
  info.bitrate = static_cast<std::uint32_t>(settings.bit_rate);
  info.bit_count = kBitsPerPixel;
  info.timestamp = static_cast<std::uint64_t>(picture.timestamp);
  // The buffer keeps its storage: after the first frames no packet allocates.
  packet_.resize(0);
  try {
    packet_view_ = VIDEODATA::BuildVideoPacket(packet_, info, stream.bitstream.get(), length);
  } catch (const std::exception&) {
    DEBUG_LOG(6, "[VideoConfManager::EncodeAndSendFrame] runtime error");
    return false;
  }
  return true;
}

// Only the answers to requests are paced: the key frame of a conference that
// became ready may have reached a partner not yet listening, whose request
// must then not wait for it.
void FrameSender::ForceKeyFrameIfDue(Stream& stream) {
  if (key_forced_) {
    stream.encoder->force_key_frame();
    return;
  }
  if (!key_requested_)
    return;
  const std::int64_t now = steady_ms_();
  if (stream.answered && now - stream.answered_at < kKeyFrameAnswerInterval)
    return;
  stream.encoder->force_key_frame();
  stream.answered = true;
  stream.answered_at = now;
}

void FrameSender::Dispatch(const SessionTable& sessions) {
  targets_.clear();
  try {
    for (const auto& [cid, session] : sessions)
      targets_.push_back(session);
  } catch (const std::bad_alloc&) {
    // The conferences listed so far still get the frame.
  }
  const auto length = static_cast<std::uint32_t>(packet_view_.size());
  for (const COMM::RefPtr<VideoConfSession>& session : targets_)
    session->SendPacket(packet_view_.data(), length);
  targets_.clear();
}

}  // namespace kalo::video
