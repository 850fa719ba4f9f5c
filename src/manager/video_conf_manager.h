// The module's one manager: the host's interface, the 50 ms tick and the
// diagnostic object the peer-network library can query.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/clock_stamp.h"
#include "common/ref_ptr.h"
#include "common/video_frame.h"
#include "external/ksn_control.h"
#include "external/ksn_object.h"
#include "manager/ksn_timer.h"
#include "plat/types.h"
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
};

// Lives on the host's thread: it is built, driven, ticked and destroyed there,
// and takes no lock. The bases' order is fixed: the host holds the manager as
// its first base, the tick comes from the second, the library's registry sees
// the third.
class VideoConfManager final : public IVideoConfManager, public ksn::timer, public ksn::object {
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

  // A session's network session came up, or went down.
  void OnKSNSessionReady(const std::string& cid);
  void OnKSNSessionClose(const std::string& cid);

  // From the capture object's owner binding.
  void OnRecordSecondsLeft(std::int32_t seconds);
  bool OnFrame(const VideoFrame* frame);
  void OnCaptureError(const char* text);

  // The cached clock: refreshed at construction and on every tick.
  const ClockStamp& clock() const { return clock_; }

 private:
  // Construction, after the timer base and the fields' initial values.
  void SetUpDebugLog(const std::optional<std::string>& log_dir);
  void RefreshClock();
  void ResetRecorder();
  void LoadKSN(const std::string& library);
  void CreateCapture();
  void RegisterWithKSN();

  // Destruction, before the fields go in reverse order and the timer base last.
  void UnregisterFromKSN();
  void FreeBitstreams();
  void CloseAllSessions();
  void DestroyCapture();
  void UnloadKSN();

  plat::HMODULE ksn_module_ = nullptr;
  COMM::RefPtr<KSNControl> ksn_control_;
  // Still to come, in this order: capture_, camera_driver_, video_opened_,
  // video_opening_, recorder_, video_type_, out_bw_valve_, normal_encoder_,
  // small_encoder_, normal_bitstream_, small_bitstream_, frame_seq_,
  // converter_, self_wnds_.
  ClockStamp clock_;
  // Still to come, in this order: observers_, sessions_.
};

}  // namespace kalo::video
