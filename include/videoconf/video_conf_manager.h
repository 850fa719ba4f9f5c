// The module's one manager, as the host drives it.
#pragma once

#include <cstdint>
#include <string>

#include "plat/handles.h"
#include "videoconf/device_list.h"
#include "videoconf/video_conf_observer.h"

namespace kalo::video {

// Bound by slot position: the declaration order is the slot order and the
// reserved slots keep their places. Texts are the host's own string objects.
// Calls report failure as false (or nothing); none throws. Every call, and
// every observer notification, happens on the thread that called GetInstance,
// which must pump its window messages. The host never deletes the manager:
// DestroyInstance does.
class IVideoConfManager {
 public:
  // 0: shows the local camera in `window`; a non-null `region` is handed to
  // the window (the window then owns it).
  virtual void AddSelfVideoWindow(plat::HWND window, plat::HRGN region) = 0;
  // 1: shows conference `cid` in `window`.
  virtual void AddSessionVideoWindow(const std::string& cid, plat::HWND window,
                                     plat::HRGN region) = 0;
  // 2
  virtual bool ShowCameraPropertyPage() = 0;
  // 3: a fresh conference id (36-character lower-case UUID text); on failure
  // `cid` is left as it was.
  virtual void CreateCid(std::string& cid) = 0;
  // 4
  virtual bool CloseVideo() = 0;
  // 5
  virtual bool Reserved5(std::uint32_t) = 0;
  // 6
  virtual void CloseVideoSession(const std::string& cid) = 0;
  // 7, 8
  virtual void Reserved7(std::uint32_t, std::uint32_t) = 0;
  virtual void Reserved8(std::uint32_t) = 0;
  // 9: answers "dummy".
  virtual std::string Reserved9() = 0;
  // 10
  virtual void Reserved10(std::uint32_t, std::uint32_t) = 0;
  // 11: appends the video input devices to `devices`.
  virtual bool GetVideoCameraDrivers(DeviceList& devices) = 0;
  // 12: whether conferences can be opened (the peer network is there and ready).
  virtual bool IsKSNReady() = 0;
  // 13, 14
  virtual bool IsVideoOpening() = 0;
  virtual bool IsVideoOpened() = 0;
  // 15
  virtual bool Reserved15() = 0;
  // 16: opens conference `cid`; `kind` is 0 or 1, the first two words are ignored.
  virtual bool OpenVideoSession(std::uint32_t, std::uint32_t, const std::string& cid,
                                std::int32_t kind) = 0;
  // 17: an empty `cid` names the local preview; a null window repaints them all.
  virtual bool RepaintVideoWindow(const std::string& cid, plat::HWND window) = 0;
  // 18
  virtual bool PauseVideo(std::uint32_t) = 0;
  // 19
  virtual bool Reserved19(std::string) = 0;
  // 20: a null or already registered observer is ignored.
  virtual void RegisterObserver(IVideoConfObserver* observer) = 0;
  // 21, 22
  virtual void RemoveSelfVideoWindow(plat::HWND window) = 0;
  virtual void RemoveSessionVideoWindow(const std::string& cid, plat::HWND window) = 0;
  // 23
  virtual bool ResumeVideo(std::uint32_t) = 0;
  // 24
  virtual void UnregisterObserver(IVideoConfObserver* observer) = 0;
  // 25: records the local camera into an AVI file for `seconds` (decimal text).
  virtual bool RecordToAVIFile(const std::string& path, const std::string& seconds) = 0;
  // 26: bits per second.
  virtual bool SetVideoBitRate(std::int32_t bit_rate) = 0;
  // 27: decimal texts; 0 keeps the current value.
  virtual bool SetCameraParameter(const std::string& width, const std::string& height,
                                  const std::string& frame_rate) = 0;
  // 28, 29
  virtual void Reserved28(std::uint32_t) = 0;
  virtual void Reserved29(std::uint32_t, std::uint32_t) = 0;
  // 30: 176 x 144 at 20 frames per second, the small stream.
  virtual bool SetToNormalVideo() = 0;
  // 31: 352 x 288 at 15 frames per second, the full-size stream.
  virtual bool SetToSuperVideo() = 0;
  // 32: a device path from GetVideoCameraDrivers; the outcome is IsVideoOpened.
  virtual void SetVideoCameraDriver(const std::string& driver) = 0;
  // 33
  virtual bool Reserved33(std::uint32_t) = 0;

 protected:
  IVideoConfManager() = default;
  IVideoConfManager(const IVideoConfManager&) = default;
  IVideoConfManager& operator=(const IVideoConfManager&) = default;
  // Not virtual and not public: the host never deletes the manager.
  ~IVideoConfManager() = default;
};

}  // namespace kalo::video
