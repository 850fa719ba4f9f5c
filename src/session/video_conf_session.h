// One open video conference: the module's end of one network session of the
// peer-network library, named by the conference id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/ref_count.h"
#include "common/ref_ptr.h"
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

// Where a session takes its decoders and its clock from. The defaults are the
// product's; tests put fakes in their place.
struct VideoConfSessionSetup {
  CodecFactory codec_factory = &CreateLibraryCodec;
  SystemTimeSource system_time = DefaultSystemTime;

  static std::uint64_t DefaultSystemTime();
};

// Sends the packets it is handed while its network session is connected;
// reassembles the bytes that arrive into video packets, decodes each frame
// with its own decoder and paints it into the conference's windows.
//
// Lives on the manager's thread and takes no lock; its count is a plain one.
// Every entry point that may call out (to the manager, hence to the host's
// observers, or to the library) holds a reference on the session for its
// whole run, so the session outlives a close that happens inside it.
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
  void AddWindow(plat::HWND window) { wnds_->AddWindow(window); }
  void RemoveWindow(plat::HWND window) { wnds_->RemoveWindow(window); }
  // Throws std::bad_alloc when a window's picture cannot be had.
  void Repaint(plat::HWND window) { wnds_->Repaint(window); }

  const std::string& h() const { return h_; }
  const VideoWnds& windows() const { return *wnds_; }
  // The sink handed to the library by the last Start; null before.
  Agent* agent() const { return agent_.get(); }

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
  void ParsePacket();
  // Decodes one frame and paints it into the windows; false when it was not
  // shown. Frames closer than 50 microseconds to the last one shown are
  // dropped before decoding.
  bool ShowFrame(const VideoFrame& frame, std::uint32_t payload_length, std::uint16_t bit_count,
                 std::uint16_t frame_rate, std::uint32_t bitrate, std::uint8_t key_frame);
  // Makes an image of `size` bytes and, when needed, a new opened decoder
  // for the frame's parameters; false (logged) when either cannot be had.
  bool PrepareDecoder(const VideoFrame& frame, std::uint64_t size, std::uint16_t bit_count,
                      std::uint16_t frame_rate, std::uint32_t bitrate);
  // Asks the manager to close the conference, once in the session's life.
  void ReportClose();
  // Stopped, or its close already reported: the library's news no longer
  // concerns the conference.
  bool Closing() const { return stopped_ || close_reported_; }

  ISessionEvents* manager_;  // not owned
  COMM::RefPtr<KSNControl> control_;
  COMM::RefPtr<Agent> agent_;
  std::string h_;
  std::string recv_buffer_;  // bytes received and not yet parsed
  std::unique_ptr<IVCodec> video_decoder_;
  std::unique_ptr<std::uint8_t[]> image_;
  bool started_ = false;          // a key frame has arrived
  std::uint64_t last_shown_ = 0;  // system time of the last frame shown
  std::unique_ptr<VideoWnds> wnds_;

  VideoConfSessionSetup setup_;
  std::uint64_t image_size_ = 0;    // bytes image_ holds
  std::uint64_t decoder_size_ = 0;  // picture bytes the decoder was opened for
  std::unique_ptr<std::uint8_t[]> recv_chunk_;
  bool parsing_ = false;
  bool recv_pending_ = false;  // a data notification came during a parse
  bool stopped_ = false;
  bool close_reported_ = false;
};

}  // namespace kalo::video
