// The outgoing half of the frame path: the frame-rate valve, the two encoded
// streams and the one packet every conference is handed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "common/clock_stamp.h"
#include "common/ref_ptr.h"
#include "common/video_frame.h"
#include "external/ivcodec.h"
#include "pixel/pixel_converter.h"
#include "protocol/block_buffer.h"
#include "session/bandwith_recorder.h"
#include "session/codec_factory.h"
#include "session/session_table.h"
#include "session/video_conf_session.h"

namespace kalo::video {

// What the manager's state says about one frame about to be sent.
struct SendSettings {
  std::int32_t video_type = 255;     // 0 the frame's own size, 1 the small picture, else none
  std::uint32_t out_bw_valve = 100;  // most frames handed out within the recorder's window
  std::int32_t frame_rate = 0;       // the camera's, for the encoder and the packet
  std::int32_t bit_rate = 0;
};

// Encoders, their output buffers, the small picture and the packet buffer
// are made on first use and then reused frame after frame; only a change of
// parameters (the encoder's check) replaces an encoder and its buffer.
// A conference that becomes ready gets a key frame with the next frame sent;
// a partner's requests for one are answered at most every
// kKeyFrameAnswerInterval per stream, and wait meanwhile.
// Lives on the manager's thread; no lock.
class FrameSender {
 public:
  static constexpr std::int32_t kSmallWidth = 176;
  static constexpr std::int32_t kSmallHeight = 144;
  static constexpr std::uint32_t kSmallImageSize = kSmallWidth * kSmallHeight * 4;

  // Milliseconds between two key frames forced at a partner's request: a
  // receiver that asks on every frame cannot turn the stream into key frames.
  static constexpr std::int64_t kKeyFrameAnswerInterval = 200;

  explicit FrameSender(
      CodecFactory encoder_factory,
      SteadyTimeSource steady_ms = &VideoConfSessionSetup::DefaultSteadyMilliseconds);
  FrameSender(const FrameSender&) = delete;
  FrameSender& operator=(const FrameSender&) = delete;
  ~FrameSender();

  // True when the frame went to every conference in key order, or no stream
  // is selected; false when there is no conference, the valve holds it back,
  // or a step failed (logged at level 6). Counts a sent frame once in
  // `recorder`, at `clock`.
  bool EncodeAndSendFrame(const VideoFrame& frame, const SendSettings& settings,
                          const SessionTable& sessions, bandwith_recorder& recorder,
                          const ClockStamp& clock);

  // Gives up both output buffers; the encoders make new ones when next used.
  void FreeBitstreams();

  // The next frame sent is a key frame (a conference just became ready).
  void ForceKeyFrame() { key_forced_ = true; }
  // How long after a partner's last request the pictures sent are kept for
  // an answer at once: copying each one costs a pass over the frame, and a
  // call that loses nothing never needs them. The first request of a loss
  // waits for the next frame.
  static constexpr std::int64_t kKeepPicturesFor = 10000;

  // A partner asks for a key frame: the next frame sent is one, unless the
  // stream answered a request within kKeyFrameAnswerInterval; then the first
  // frame after that.
  void RequestKeyFrame() { key_requested_ = true; }
  // As RequestKeyFrame, but answered at once when the pace and the valve
  // allow and the last picture sent was kept (kKeepPicturesFor): it goes out
  // again as a key frame to every conference (counted as a frame sent), so
  // that a receiver that lost a packet waits for no camera frame. True when
  // it was sent.
  bool AnswerKeyFrameRequest(const SessionTable& sessions, bandwith_recorder& recorder,
                             const ClockStamp& clock);

  // The seq the next packet carries.
  std::uint32_t frame_seq() const { return frame_seq_; }

 private:
  // One encoded stream: its encoder and the buffer the encoder writes into.
  struct Stream {
    explicit Stream(const char* stream_name) : name(stream_name) {}
    const char* name;  // "normal" or "small", as the records say
    std::unique_ptr<IVCodec> encoder;
    std::unique_ptr<std::uint8_t[]> bitstream;
    std::uint32_t capacity = 0;
    bool answered = false;         // a partner's request was answered on this stream
    std::int64_t answered_at = 0;  // when, steady milliseconds
  };

  // The last picture sent, for a request answered at once.
  struct LastSent {
    VideoFrame picture;
    std::uint32_t size = 0;
    SendSettings settings;
  };

  bool EncodeAndSend(const VideoFrame& frame, const SendSettings& settings,
                     const SessionTable& sessions, bandwith_recorder& recorder,
                     const ClockStamp& clock);
  // Copies the normal stream's picture; the small one stays in small_picture_.
  void KeepPicture(const VideoFrame& frame, std::uint32_t size);
  // Makes or replaces the stream's encoder and buffer for the picture; false
  // (logged) when either cannot be had.
  bool PrepareEncoder(Stream& stream, const VideoFrame& picture, std::uint32_t size,
                      const SendSettings& settings);
  // Encodes `picture` (`size` bytes) with the prepared encoder and builds its
  // packet; false (logged) on failure.
  bool EncodeInto(Stream& stream, const VideoFrame& picture, std::uint32_t size,
                  const SendSettings& settings);
  // Tells the encoder to make a key frame when one is due.
  void ForceKeyFrameIfDue(Stream& stream);
  // Hands the built packet to every conference, in key order.
  void Dispatch(const SessionTable& sessions);

  CodecFactory encoder_factory_;
  SteadyTimeSource steady_ms_;
  bool key_forced_ = false;
  bool key_requested_ = false;
  bool sending_ = false;       // inside a send: a request waits for the next frame
  bool asked_ = false;         // a partner has asked for a key frame
  std::int64_t asked_at_ = 0;  // when last, steady milliseconds
  std::optional<LastSent> last_;
  std::unique_ptr<std::uint8_t[]> kept_;
  std::uint32_t kept_capacity_ = 0;
  Stream normal_{"normal"};
  Stream small_{"small"};
  std::uint32_t frame_seq_ = 0;
  PixelConverter converter_;
  // Aligned as the module's other pixel buffers are, for the vector scaler.
  alignas(64) std::array<std::uint8_t, kSmallImageSize> small_picture_{};
  // The packet of the frame being sent; storage kept between frames.
  sox::PackBuffer packet_;
  std::span<const std::uint8_t> packet_view_;
  // The conferences a frame goes to, taken before the first send so that a
  // conference closed meanwhile cannot pull the table from under the walk.
  std::vector<COMM::RefPtr<VideoConfSession>> targets_;
};

}  // namespace kalo::video
