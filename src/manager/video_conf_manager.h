// The module's one manager: the host's interface, the 50 ms tick and the
// diagnostic object the peer-network library can query.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/video_cap_t.h"
#include "common/clock.h"
#include "common/clock_stamp.h"
#include "common/ref_ptr.h"
#include "common/thread_checker.h"
#include "common/video_frame.h"
#include "external/ksn_control.h"
#include "external/ksn_object.h"
#include "manager/frame_sender.h"
#include "manager/ksn_timer.h"
#include "manager/loaded_library.h"
#include "plat/types.h"
#include "session/bandwith_recorder.h"
#include "session/codec_factory.h"
#include "session/session_events.h"
#include "session/session_table.h"
#include "session/video_conf_session.h"
#include "videoconf/video_conf_manager.h"

namespace kalo::video {

// Where the manager looks for what lies outside the module. The defaults are
// the product's; tests point them elsewhere.
struct VideoConfManagerSetup {
  // A bare file name is looked for beside the module first, then through the
  // search path; a name with a '/' is used as it is.
  std::string ksn_library = kKSNLibraryFile;
  // The log directory; without one, "logs" beside the host's executable.
  std::optional<std::string> log_dir;
  // A control object the caller already holds: the manager takes a reference
  // on it and loads no library.
  COMM::RefPtr<KSNControl> ksn_control;
  // Where the conferences take their decoders and their clock from.
  VideoConfSessionSetup session;
  // Where the two sending streams take their encoders from.
  CodecFactory encoder_factory = &CreateLibraryCodec;
  // What the cached clock is read from, at construction and on every tick.
  std::shared_ptr<COMM::Clock> clock = COMM::RealClock();
};

// Lives on the host's thread: it is built, driven, ticked and destroyed there,
// and takes no lock; debug builds check every entry. The bases' order is fixed: the host holds the
// manager as its first base, the tick comes from the second, the library's registry sees the third;
// the conferences report through the last.
class VideoConfManager final : public IVideoConfManager,
                               public ksn::timer,
                               public ksn::object,
                               public ISessionEvents {
 public:
  static constexpr char kObjectPath[] = "video/VideoConfManager";
  static constexpr std::uint32_t kRunningLogLevel = 14;

  VideoConfManager();
  explicit VideoConfManager(const VideoConfManagerSetup& setup);
  ~VideoConfManager() override;
  VideoConfManager(const VideoConfManager&) = delete;
  VideoConfManager& operator=(const VideoConfManager&) = delete;

  // IVideoConfManager, in slot order.
  void AddSelfVideoWindow(plat::HWND window, plat::HRGN region) override;
  void AddSessionVideoWindow(const std::string& cid, plat::HWND window, plat::HRGN region) override;
  bool ShowCameraPropertyPage() override;
  void CreateCid(std::string& cid) override;
  bool CloseVideo() override;
  bool Reserved5(std::uint32_t) override;
  void CloseVideoSession(const std::string& cid) override;
  void Reserved7(std::uint32_t, std::uint32_t) override;
  void Reserved8(std::uint32_t) override;
  std::string Reserved9() override;
  void Reserved10(std::uint32_t, std::uint32_t) override;
  bool GetVideoCameraDrivers(DeviceList& devices) override;
  bool IsKSNReady() override;
  bool IsVideoOpening() override;
  bool IsVideoOpened() override;
  bool Reserved15() override;
  bool OpenVideoSession(std::uint32_t, std::uint32_t, const std::string& cid,
                        std::int32_t kind) override;
  bool RepaintVideoWindow(const std::string& cid, plat::HWND window) override;
  bool PauseVideo(std::uint32_t) override;
  bool Reserved19(std::string) override;
  void RegisterObserver(IVideoConfObserver* observer) override;
  void RemoveSelfVideoWindow(plat::HWND window) override;
  void RemoveSessionVideoWindow(const std::string& cid, plat::HWND window) override;
  bool ResumeVideo(std::uint32_t) override;
  void UnregisterObserver(IVideoConfObserver* observer) override;
  bool RecordToAVIFile(const std::string& path, const std::string& seconds) override;
  bool SetVideoBitRate(std::int32_t bit_rate) override;
  bool SetCameraParameter(const std::string& width, const std::string& height,
                          const std::string& frame_rate) override;
  void Reserved28(std::uint32_t) override;
  void Reserved29(std::uint32_t, std::uint32_t) override;
  bool SetToNormalVideo() override;
  bool SetToSuperVideo() override;
  void SetVideoCameraDriver(const std::string& driver) override;
  bool Reserved33(std::uint32_t) override;

  // ksn::timer: refreshes the cached clock.
  void OnTimer() override;

  // ksn::object: the console. Nothing leaves these as an exception.
  const char* GetName() override;
  void Set(const char* key, const std::string& value) override;
  std::string Get(const char* key) override;

  // A session's network session came up (every observer hears it, in
  // registration order), or went down (the conference is closed, then every
  // observer hears it with the reason 6000).
  void OnKSNSessionReady(const std::string& cid) override;
  void OnKSNSessionClose(const std::string& cid) override;
  // A partner has no clean picture: a key frame goes out soon.
  void OnKeyFrameRequest(const std::string& cid) override;

  // From the capture object's owner binding.
  void OnRecordSecondsLeft(std::int32_t seconds);
  bool OnFrame(const VideoFrame* frame);
  void OnCaptureError(const char* text);
  // True when the frame was sent or no stream is selected; false when there
  // is no conference, the valve holds it back, or encoding failed.
  bool EncodeAndSendFrame(const VideoFrame& frame);

  // The cached clock: refreshed at construction and on every tick.
  const ClockStamp& clock() const {
    VC_DCHECK_RUN_ON(&checker_);
    return clock_;
  }

  // The open conference of that id, null when there is none.
  VideoConfSession* FindSession(const std::string& cid) const;
  // The local preview's windows; null when they could not be made.
  const VideoWnds* self_wnds() const {
    VC_DCHECK_RUN_ON(&checker_);
    return self_wnds_.get();
  }

 private:
  // Construction, after the timer base and the fields' initial values.
  void SetUpDebugLog(const std::optional<std::string>& log_dir) VC_REQUIRES(checker_);
  void RefreshClock() VC_REQUIRES(checker_);
  void ResetRecorder() VC_REQUIRES(checker_);
  void LoadKSN(const VideoConfManagerSetup& setup) VC_REQUIRES(checker_);
  void CreateCapture() VC_REQUIRES(checker_);
  void RegisterWithKSN() VC_REQUIRES(checker_);

  // Destruction, before the fields go in reverse order and the timer base last.
  void UnregisterFromKSN() VC_REQUIRES(checker_);
  void FreeBitstreams() VC_REQUIRES(checker_);
  void CloseAllSessions() VC_REQUIRES(checker_);
  void DestroyCapture() VC_REQUIRES(checker_);
  void UnloadKSN() VC_REQUIRES(checker_);

  // Tells every observer registered now, in registration order; one that is
  // unregistered meanwhile (by an observer before it) is skipped.
  template <typename Call>
  void TellObservers(Call call) VC_REQUIRES(checker_);

  // The host's thread, where the manager was made.
  COMM::ThreadChecker checker_;
  // Declared ahead of the control object, whose code it holds: members go
  // in reverse order, so the object is released before the library unloads,
  // even when construction fails half-way.
  LoadedLibrary ksn_module_ VC_GUARDED_BY(checker_);
  COMM::RefPtr<KSNControl> ksn_control_ VC_GUARDED_BY(checker_);
  std::unique_ptr<VideoCapT<VideoConfManager>> capture_ VC_GUARDED_BY(checker_);
  std::string camera_driver_ VC_GUARDED_BY(checker_);
  bool video_opened_ VC_GUARDED_BY(checker_) = false;
  bool video_opening_ VC_GUARDED_BY(checker_) = false;
  // Frames captured and frames sent, over the last second in 100 ms slots.
  bandwith_recorder recorder_ VC_GUARDED_BY(checker_){1000, 5};
  std::int32_t video_type_ VC_GUARDED_BY(checker_) = 255;  // 0 normal stream, 1 small, other: none
  std::uint32_t out_bw_valve_ VC_GUARDED_BY(checker_) = 100;  // most frames sent in one second
  // The encoders, their buffers, the small picture and frame_seq_.
  FrameSender frame_sender_ VC_GUARDED_BY(checker_);
  std::unique_ptr<VideoWnds> self_wnds_ VC_GUARDED_BY(checker_);
  std::shared_ptr<COMM::Clock> clock_source_ VC_GUARDED_BY(checker_);
  ClockStamp clock_ VC_GUARDED_BY(checker_);
  std::vector<IVideoConfObserver*> observers_
      VC_GUARDED_BY(checker_);  // the host's, in registration order
  SessionTable sessions_ VC_GUARDED_BY(checker_);
  VideoConfSessionSetup session_setup_
      VC_GUARDED_BY(checker_);  // what each new conference is made with
  // Set once the conferences are being closed for good: what they still
  // report then reaches no observer.
  bool closing_all_ VC_GUARDED_BY(checker_) = false;
};

}  // namespace kalo::video
