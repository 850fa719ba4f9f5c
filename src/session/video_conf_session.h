// One open video conference: the module's end of one network session of the
// peer-network library, named by the conference id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/aligned_buffer.h"
#include "common/ref_count.h"
#include "common/ref_ptr.h"
#include "common/thread_checker.h"
#include "common/video_frame.h"
#include "display/video_wnds.h"
#include "external/ivcodec.h"
#include "external/ksn_control.h"
#include "external/ksn_notify.h"
#include "external/ksn_object.h"
#include "plat/types.h"
#include "session/codec_factory.h"
#include "session/session_events.h"

namespace kalo::video {

// The system time in 100 ns units (a FILETIME count).
using SystemTimeSource = std::function<std::uint64_t()>;
// A clock that never jumps, in milliseconds.
using SteadyTimeSource = std::function<std::int64_t()>;

// Where a session takes its decoders and its clocks from. The defaults are
// the product's; tests put fakes in their place.
struct VideoConfSessionSetup {
  CodecFactory codec_factory = &CreateLibraryCodec;
  SystemTimeSource system_time = DefaultSystemTime;
  // Paces the key-frame requests and counts decoder rebuilds per second.
  SteadyTimeSource steady_ms = DefaultSteadyMilliseconds;

  static std::uint64_t DefaultSystemTime();
  static std::int64_t DefaultSteadyMilliseconds();
};

// Sends the packets it is handed while its network session is connected;
// reassembles the bytes that arrive into video packets, decodes each frame
// with its own decoder and paints it into the conference's windows.
//
// A receiver without a clean picture (none yet, or a packet missing from the
// sender's seq) shows nothing until a key frame and asks its partner for one,
// at most every kKeyFrameRequestInterval; a partner's request reaches the
// manager. A stream that needs more than kMaxDecodersPerSecond decoders in a
// second is dropped for the rest of that second.
//
// Lives on the manager's thread (checked in debug builds) and takes no lock;
// its count is a plain one. Every entry point that may call out (to the
// manager, hence to the host's observers, or to the library) holds a
// reference on the session for its whole run, so the session outlives a
// close that happens inside it.
class VideoConfSession final : public ksn::object, public COMM::SimpleRefCount {
 public:
  using Agent = KSN::ksnNotifyAgent<VideoConfSession>;

  // Bytes asked of the library per Recv.
  static constexpr std::uint32_t kRecvChunk = 32000;
  // At least this long (100 ns units: 50 microseconds) between two frames shown.
  static constexpr std::int64_t kMinShowInterval = 500;
  // Pictures are shown up to kMaxPictureWidth x kMaxPictureHeight
  // (external/picture_limits.h): far above anything a sender of this system
  // makes, and small enough that a peer's header cannot make a receiver
  // allocate without bound.
  // The only pixel size the windows paint.
  static constexpr std::uint16_t kShownBitCount = 32;
  // Milliseconds between two key-frame requests: a lost request is asked
  // again soon, and the sender still answers at most a few times a second.
  static constexpr std::int64_t kKeyFrameRequestInterval = 100;
  // Decoders made within one second before the stream is dropped for the
  // rest of it: each costs the decoder's set-up on the manager's thread.
  static constexpr std::uint32_t kMaxDecodersPerSecond = 4;

  // A new session (one reference, the caller's), or null when it cannot be
  // made. `kind` (the stream the conference was opened for) is not used by
  // the session.
  static COMM::RefPtr<VideoConfSession> Create(ISessionEvents* manager,
                                               COMM::RefPtr<KSNControl> control,
                                               const std::string& cid, std::int32_t kind,
                                               VideoConfSessionSetup setup = {});

  VideoConfSession(const VideoConfSession&) = delete;
  VideoConfSession& operator=(const VideoConfSession&) = delete;

  // Asks the library to open the network session, with a new notification
  // sink; the outcome arrives through notifyConnect. False when the library
  // refused at once.
  bool Start();
  // Asks the library to close the network session. From then on the session
  // ignores the library's connect, close and data notifications, and never
  // reports a close: whoever stops it is closing the conference already.
  void Stop();
  // Sends one packet when the network session is connected; drops it
  // otherwise. No queueing, no retry.
  void SendPacket(const void* bytes, std::uint32_t length);

  // The conference's windows.
  void AddWindow(plat::HWND window);
  void RemoveWindow(plat::HWND window);
  // Throws std::bad_alloc when a window's picture cannot be had.
  void Repaint(plat::HWND window);

  const std::string& h() const { return h_; }
  const VideoWnds& windows() const { return *wnds_; }
  // The sink handed to the library by the last Start; null before.
  Agent* agent() const { return agent_.get(); }
  // Frames dropped because the stream changed its picture size too often.
  std::uint64_t size_change_drops() const { return size_change_drops_; }

  // Only the last Release destroys a session.
 private:
  ~VideoConfSession() override;

 public:
  // The library's notifications, through the agent, in slot order.
  virtual void notifyReserved1(std::uint32_t, std::uint32_t);
  virtual void notifyReserved2(std::uint32_t, std::uint32_t);
  virtual void notifyExtendMessage(const std::string& type, std::uint32_t);
  virtual void notifyConnect(std::uint32_t code, const char* error, const std::string& handle);
  virtual void notifyReserved5(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                               std::uint32_t, std::uint32_t, std::uint32_t);
  virtual void notifyClose(std::uint32_t code, const char* error, const std::string& handle);
  virtual void notifyRecv(const std::string& handle);
  virtual void notifyReserved8(std::uint32_t);

 private:
  VideoConfSession(ISessionEvents* manager, COMM::RefPtr<KSNControl> control,
                   const std::string& cid, VideoConfSessionSetup setup);

  // Takes every whole packet off the front of the receive buffer and shows
  // its frame; a broken stream closes the conference.
  void ParsePacket() VC_REQUIRES(checker_);
  // Keeps the sender's seq; a gap spoils the picture until the next key frame.
  void TrackSeq(std::uint32_t seq) VC_REQUIRES(checker_);
  // Sends the partner a key-frame request, unless one went out within
  // kKeyFrameRequestInterval.
  void AskForKeyFrame() VC_REQUIRES(checker_);
  // True while the stream is dropped for changing size too often.
  bool DroppingForSizeChanges() VC_REQUIRES(checker_);
  // Decodes one frame and paints it into the windows; false when it was not
  // shown. Frames closer than 50 microseconds to the last one shown are
  // dropped before decoding.
  bool ShowFrame(const VideoFrame& frame, std::uint32_t payload_length, std::uint16_t bit_count,
                 std::uint16_t frame_rate, std::uint32_t bitrate, std::uint8_t key_frame)
      VC_REQUIRES(checker_);
  // Makes an image of `size` bytes and, when needed, a new opened decoder
  // for the frame's parameters; false (logged) when either cannot be had.
  bool PrepareDecoder(const VideoFrame& frame, std::uint64_t size, std::uint16_t bit_count,
                      std::uint16_t frame_rate, std::uint32_t bitrate) VC_REQUIRES(checker_);
  // Counts a new decoder; false (the stream dropped for the rest of the
  // second, logged once) past kMaxDecodersPerSecond.
  bool MayBuildDecoder() VC_REQUIRES(checker_);
  // Asks the manager to close the conference, once in the session's life.
  void ReportClose() VC_REQUIRES(checker_);
  // Stopped, or its close already reported: the library's news no longer
  // concerns the conference.
  bool Closing() const VC_REQUIRES(checker_) { return stopped_ || close_reported_; }

  COMM::ThreadChecker checker_;

  ISessionEvents* manager_;  // not owned
  COMM::RefPtr<KSNControl> control_;
  COMM::RefPtr<Agent> agent_;
  std::string h_;
  std::string recv_buffer_ VC_GUARDED_BY(checker_);  // bytes received and not yet parsed
  std::unique_ptr<IVCodec> video_decoder_ VC_GUARDED_BY(checker_);
  // The decoder's picture; handed to the windows for each frame shown, and
  // their previous one taken back for the next.
  AlignedBuffer image_ VC_GUARDED_BY(checker_);
  bool started_ VC_GUARDED_BY(checker_) = false;          // a clean picture can be decoded
  std::uint64_t last_shown_ VC_GUARDED_BY(checker_) = 0;  // system time of the last frame shown
  std::unique_ptr<VideoWnds> wnds_;

  VideoConfSessionSetup setup_;
  std::int32_t image_size_ VC_GUARDED_BY(checker_) = 0;     // bytes image_ holds
  std::uint64_t decoder_size_ VC_GUARDED_BY(checker_) = 0;  // picture bytes of the decoder
  std::unique_ptr<std::uint8_t[]> recv_chunk_;
  bool parsing_ VC_GUARDED_BY(checker_) = false;
  bool recv_pending_ VC_GUARDED_BY(checker_) = false;  // a data notification came during a parse
  bool stopped_ VC_GUARDED_BY(checker_) = false;
  bool close_reported_ VC_GUARDED_BY(checker_) = false;

  // The seq the next video record should carry, once one has arrived.
  bool have_seq_ VC_GUARDED_BY(checker_) = false;
  std::uint32_t next_seq_ VC_GUARDED_BY(checker_) = 0;
  bool asked_ VC_GUARDED_BY(checker_) = false;  // a key-frame request went out
  std::int64_t asked_at_ VC_GUARDED_BY(checker_) = 0;
  // Decoders made in the second that began at decoders_since_; frames are
  // dropped until dropping_until_ once there were too many.
  std::int64_t decoders_since_ VC_GUARDED_BY(checker_) = 0;
  std::uint32_t decoders_made_ VC_GUARDED_BY(checker_) = 0;
  bool dropping_ VC_GUARDED_BY(checker_) = false;
  std::int64_t dropping_until_ VC_GUARDED_BY(checker_) = 0;
  std::uint64_t size_change_drops_ = 0;
};

}  // namespace kalo::video
