#include "session/video_conf_session.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <new>
#include <span>
#include <utility>

#include "common/debug_log.h"
#include "external/picture_limits.h"
#include "plat/kernel.h"
#include "protocol/block_buffer.h"
#include "protocol/video_packet_builder.h"
#include "protocol/video_packet_reader.h"

namespace kalo::video {

namespace {

// The library's network-session type and flags for a conference.
constexpr std::int32_t kSessionType = 2;
constexpr std::int32_t kSessionFlags = 0;

// A second of decoder builds, and of the drop that too many of them start.
constexpr std::int64_t kRebuildWindowMs = 1000;

// The library may hand a null error text.
const char* Text(const char* text) {
  return text != nullptr ? text : "";
}

}  // namespace

std::uint64_t VideoConfSessionSetup::DefaultSystemTime() {
  return plat::GetSystemTimeAsFileTime();
}

std::int64_t VideoConfSessionSetup::DefaultSteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

COMM::RefPtr<VideoConfSession> VideoConfSession::Create(ISessionEvents* manager,
                                                        COMM::RefPtr<KSNControl> control,
                                                        const std::string& cid, std::int32_t kind,
                                                        VideoConfSessionSetup setup) {
  try {
    return COMM::RefPtr<VideoConfSession>(
        new VideoConfSession(manager, std::move(control), cid, std::move(setup)), COMM::adopt_ref);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

VideoConfSession::VideoConfSession(ISessionEvents* manager, COMM::RefPtr<KSNControl> control,
                                   const std::string& cid, VideoConfSessionSetup setup)
    : manager_(manager),
      control_(std::move(control)),
      h_(cid),
      wnds_(std::make_unique<VideoWnds>()),
      setup_(std::move(setup)),
      recv_chunk_(std::make_unique_for_overwrite<std::uint8_t[]>(kRecvChunk)) {}

// The agent goes first and is detached, so that a notification the library
// still delivers through it reaches nothing; then the windows, the picture,
// the decoder and the library's control object, in that order.
VideoConfSession::~VideoConfSession() {
  if (agent_) {
    const COMM::RefPtr<Agent> agent = std::move(agent_);
    agent->Detach();
  }
  wnds_.reset();
  image_.reset();
  video_decoder_.reset();
  control_.Reset();
}

bool VideoConfSession::Start() {
  VC_DCHECK_RUN_ON(&checker_);
  const COMM::RefPtr<VideoConfSession> hold(this);
  COMM::RefPtr<Agent> agent(new (std::nothrow) Agent(this), COMM::adopt_ref);
  if (!agent)
    return false;
  // One sink at a time: the one handed over before hears nothing more.
  if (agent_)
    agent_->Detach();
  agent_ = std::move(agent);
  try {
    control_->OpenSession(h_, kSessionType, agent_.get(), kSessionFlags);
  } catch (const KSN::exception& e) {
    DEBUG_LOG(6, "[VideoConfSession::Start] exception: %s, error_code=%d, h=%s", e.what(),
              e.error_code, h_.c_str());
    return false;
  }
  return true;
}

void VideoConfSession::Stop() {
  VC_DCHECK_RUN_ON(&checker_);
  const COMM::RefPtr<VideoConfSession> hold(this);
  // Set first: what the library says while closing is no news to anyone.
  stopped_ = true;
  try {
    control_->CloseSession(h_);
  } catch (const KSN::exception& e) {
    DEBUG_LOG(6, "[VideoConfSession::Stop] exception: %s, error_code=%d, h=%s", e.what(),
              e.error_code, h_.c_str());
  }
}

void VideoConfSession::SendPacket(const void* bytes, std::uint32_t length) {
  VC_DCHECK_RUN_ON(&checker_);
  const COMM::RefPtr<VideoConfSession> hold(this);
  try {
    if (control_->IsConnected(h_))
      control_->Send(h_, bytes, length);
  } catch (const KSN::exception& e) {
    DEBUG_LOG(6, "[VideoConfSession::SendPacket] exception: %s, error_code=%d, h=%s", e.what(),
              e.error_code, h_.c_str());
  }
}

void VideoConfSession::AddWindow(plat::HWND window) {
  VC_DCHECK_RUN_ON(&checker_);
  wnds_->AddWindow(window);
}

void VideoConfSession::RemoveWindow(plat::HWND window) {
  VC_DCHECK_RUN_ON(&checker_);
  wnds_->RemoveWindow(window);
}

void VideoConfSession::Repaint(plat::HWND window) {
  VC_DCHECK_RUN_ON(&checker_);
  wnds_->Repaint(window);
}

void VideoConfSession::notifyReserved1(std::uint32_t, std::uint32_t) {}

void VideoConfSession::notifyReserved2(std::uint32_t, std::uint32_t) {}

void VideoConfSession::notifyExtendMessage(const std::string& type, std::uint32_t) {
  DEBUG_LOG(14, "[VideoConfSession::notifyExtendMessage] type=%s", type.c_str());
}

void VideoConfSession::notifyConnect(std::uint32_t code, const char* error,
                                     const std::string& handle) {
  VC_DCHECK_RUN_ON(&checker_);
  if (code != 0) {
    DEBUG_LOG(6, "[VideoConfSession::notifyConnect] h=%s, err=%s", handle.c_str(), Text(error));
    return;
  }
  if (Closing())
    return;
  // An observer may close the conference from inside.
  const COMM::RefPtr<VideoConfSession> hold(this);
  manager_->OnKSNSessionReady(h_);
}

void VideoConfSession::notifyReserved5(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                                       std::uint32_t, std::uint32_t, std::uint32_t) {}

void VideoConfSession::notifyClose(std::uint32_t code, const char* error,
                                   const std::string& handle) {
  VC_DCHECK_RUN_ON(&checker_);
  DEBUG_LOG(14, "[VideoConfSession::notifyClose] h=%s, err=%s", handle.c_str(), Text(error));
  ReportClose();
}

void VideoConfSession::notifyRecv(const std::string& handle) {
  VC_DCHECK_RUN_ON(&checker_);
  if (handle != h_)
    return;
  if (Closing())
    return;
  // Appending inside a running parse could move the bytes it is reading: the
  // parse drains the library once it ends.
  if (parsing_) {
    recv_pending_ = true;
    return;
  }
  const COMM::RefPtr<VideoConfSession> hold(this);
  bool lost = false;
  try {
    for (;;) {
      const std::int32_t n = control_->Recv(handle, recv_chunk_.get(), kRecvChunk);
      if (n < 1)
        break;
      // Never more than the chunk, whatever the library claims.
      recv_buffer_.append(reinterpret_cast<const char*>(recv_chunk_.get()),
                          std::min<std::uint32_t>(static_cast<std::uint32_t>(n), kRecvChunk));
    }
  } catch (const KSN::exception& e) {
    DEBUG_LOG(6, "[VideoConfSession::notifyRecv] exception: %s, error_code=%d, h=%s", e.what(),
              e.error_code, handle.c_str());
  } catch (const std::bad_alloc&) {
    // Bytes taken from the library are gone: the stream cannot be read on.
    lost = true;
  }
  if (lost) {
    DEBUG_LOG(6, "[VideoConfSession::ParsePacket] runtime error");
    ReportClose();
    return;
  }
  ParsePacket();
}

void VideoConfSession::notifyReserved8(std::uint32_t) {}

void VideoConfSession::ParsePacket() {
  // A stream that broke once stays broken: its bad bytes stay at the front.
  if (Closing() || parsing_)
    return;
  const COMM::RefPtr<VideoConfSession> hold(this);
  parsing_ = true;
  // Whole packets are counted off here and erased once, after the loop.
  std::size_t consumed = 0;
  bool broken = false;
  try {
    for (;;) {
      const char* at = recv_buffer_.data() + consumed;
      const std::size_t left = recv_buffer_.size() - consumed;
      const VIDEODATA::PacketFront front = VIDEODATA::FindWholePacket(at, left);
      if (front.state == VIDEODATA::FrontState::kIncomplete)
        break;
      if (front.state == VIDEODATA::FrontState::kBad) {
        // A length that can never be a packet: waiting would never end.
        broken = true;
        break;
      }
      const VIDEODATA::PacketReading reading = VIDEODATA::ReadWholePacket(at, left);
      if (reading.kind == VIDEODATA::PacketKind::kBad) {
        broken = true;
        break;
      }
      if (reading.kind == VIDEODATA::PacketKind::kVideo ||
          reading.kind == VIDEODATA::PacketKind::kDropped)
        TrackSeq(reading.video.info.seq);
      if (reading.kind == VIDEODATA::PacketKind::kVideo && !DroppingForSizeChanges()) {
        const VIDEODATA::FrameInfo& info = reading.video.info;
        if (info.key_frame == 1)
          started_ = true;
        // Nothing can be decoded cleanly before a key frame: ask for one.
        if (started_) {
          ShowFrame(reading.video.frame(), reading.video.payload_length, info.bit_count,
                    info.frame_rate, info.bitrate, info.key_frame);
        } else {
          AskForKeyFrame();
        }
      } else if (reading.kind == VIDEODATA::PacketKind::kKeyFrameRequest) {
        consumed += reading.length;
        manager_->OnKeyFrameRequest(h_);
        if (Closing())
          break;
        continue;
      }
      consumed += reading.length;
    }
  } catch (...) {
    // The packet being shown stays in the buffer with everything after it.
    broken = true;
  }
  parsing_ = false;
  recv_buffer_.erase(0, consumed);
  if (broken) {
    DEBUG_LOG(6, "[VideoConfSession::ParsePacket] runtime error");
    ReportClose();
    return;
  }
  if (std::exchange(recv_pending_, false))
    notifyRecv(h_);
}

void VideoConfSession::TrackSeq(std::uint32_t seq) {
  if (have_seq_ && seq != next_seq_ && started_) {
    DEBUG_LOG(14, "[VideoConfSession::ParsePacket] seq gap: expected=%u, got=%u, h=%s", next_seq_,
              seq, h_.c_str());
    started_ = false;
  }
  have_seq_ = true;
  next_seq_ = seq + 1;  // wraps with the sender's counter
}

void VideoConfSession::AskForKeyFrame() {
  const std::int64_t now = setup_.steady_ms();
  if (asked_ && now - asked_at_ < kKeyFrameRequestInterval)
    return;
  asked_ = true;
  asked_at_ = now;
  try {
    sox::PackBuffer buffer;
    const std::span<const std::uint8_t> request = VIDEODATA::BuildKeyFrameRequest(buffer);
    SendPacket(request.data(), static_cast<std::uint32_t>(request.size()));
  } catch (const std::exception&) {
    // No memory for nine bytes: the next frame asks again.
    asked_ = false;
  }
}

bool VideoConfSession::DroppingForSizeChanges() {
  if (!dropping_)
    return false;
  if (setup_.steady_ms() < dropping_until_) {
    ++size_change_drops_;
    return true;
  }
  // The stream's frames after the drop build on frames it never decoded.
  dropping_ = false;
  started_ = false;
  return false;
}

bool VideoConfSession::MayBuildDecoder() {
  const std::int64_t now = setup_.steady_ms();
  if (decoders_made_ == 0 || now - decoders_since_ >= kRebuildWindowMs) {
    decoders_since_ = now;
    decoders_made_ = 0;
  }
  if (decoders_made_ < kMaxDecodersPerSecond) {
    ++decoders_made_;
    return true;
  }
  dropping_ = true;
  dropping_until_ = decoders_since_ + kRebuildWindowMs;
  ++size_change_drops_;
  DEBUG_LOG(6,
            "[VideoConfSession::ShowFrame] picture size changes too often: more than %u decoders "
            "in a second, frames dropped for the rest of it, h=%s",
            kMaxDecodersPerSecond, h_.c_str());
  return false;
}

bool VideoConfSession::ShowFrame(const VideoFrame& frame, std::uint32_t payload_length,
                                 std::uint16_t bit_count, std::uint16_t frame_rate,
                                 std::uint32_t bitrate, std::uint8_t key_frame) {
  // The windows paint 4 bytes a pixel from rows of `stride` bytes; any other
  // picture would be decoded into, or painted from, a buffer too short.
  const std::uint64_t size = std::uint64_t{static_cast<std::uint32_t>(std::max(frame.stride, 0))} *
                             static_cast<std::uint32_t>(std::max(frame.height, 0));
  if (bit_count != kShownBitCount || !PictureSizeAllowed(frame.width, frame.height) ||
      frame.stride < std::int64_t{4} * frame.width) {
    DEBUG_LOG(6,
              "[VideoConfSession::ShowFrame] picture cannot be held: width=%d, height=%d, "
              "bit_count=%u, h=%s",
              frame.width, frame.height, static_cast<unsigned>(bit_count), h_.c_str());
    return false;
  }

  // Differences in 64 signed bits: a clock set back shows nothing until it
  // passes the last frame shown again.
  const std::uint64_t now = setup_.system_time();
  if (static_cast<std::int64_t>(now - last_shown_) < kMinShowInterval)
    return false;
  last_shown_ = now;

  if (!PrepareDecoder(frame, size, bit_count, frame_rate, bitrate))
    return false;

  std::uint32_t picture_length = 0;
  bool decoded = false;
  try {
    decoded = video_decoder_->decode(frame.data, payload_length, image_.get(), &picture_length);
  } catch (...) {
    DEBUG_LOG(6, "[VideoConfSession::ShowFrame] image_ create failed");
    return false;
  }
  if (!decoded)
    return false;
  VideoFrame picture;
  picture.data = image_.get();
  picture.stride = frame.stride;
  picture.width = frame.width;
  picture.height = frame.height;
  picture.timestamp = frame.timestamp;
  // The windows keep the decoded picture itself and give their previous one
  // back for the next decode: no copy between decoder and paint.
  wnds_->ShowFrame(picture, image_, image_size_);
  return true;
}

bool VideoConfSession::PrepareDecoder(const VideoFrame& frame, std::uint64_t size,
                                      std::uint16_t bit_count, std::uint16_t frame_rate,
                                      std::uint32_t bitrate) {
  const auto rate = static_cast<float>(frame_rate);
  // A decoder that calls a picture of another size the same is not trusted
  // with it.
  const bool renew =
      !video_decoder_ ||
      video_decoder_->check(frame.width, frame.height, rate, bitrate, bit_count) != -1 ||
      decoder_size_ != size;
  if (renew) {
    if (!MayBuildDecoder())
      return false;
    std::unique_ptr<IVCodec> decoder;
    try {
      decoder = setup_.codec_factory();
    } catch (...) {
      // A factory that fails loudly has made none either.
    }
    // The new one first, then the old one goes.
    video_decoder_ = std::move(decoder);
    decoder_size_ = 0;
    if (!video_decoder_) {
      DEBUG_LOG(6, "[VideoConfSession::ShowFrame] video_decoder_ create failed");
      return false;
    }
    video_decoder_->open(frame.width, frame.height, rate, bitrate, bit_count);
    decoder_size_ = size;
  }
  // Memory for a picture only once a decoder has taken its parameters, and
  // kept while it is big enough: a stream of sizes that no decoder accepts,
  // or that alternate, costs no allocation per packet. Not cleared: a
  // decoder that answers true has written the whole picture.
  if (static_cast<std::uint64_t>(image_size_) < size) {
    image_.reset();
    image_size_ = 0;
    // The windows hold no picture beyond 32-bit sizes either.
    if (size <= INT32_MAX)
      image_ = MakeAlignedBuffer(size);
    if (!image_) {
      DEBUG_LOG(6, "[VideoConfSession::ShowFrame] image_ create failed");
      return false;
    }
    image_size_ = static_cast<std::int32_t>(size);
  }
  return true;
}

void VideoConfSession::ReportClose() {
  if (Closing())
    return;
  close_reported_ = true;
  const COMM::RefPtr<VideoConfSession> hold(this);
  manager_->OnKSNSessionClose(h_);
}

}  // namespace kalo::video
