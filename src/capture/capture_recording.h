// The camera's recording into an AVI file: which frames go into the file, and
// their way to the writer through the capture object's window.
//
// The file plays at 7 frames a second, so each frame stands for a seventh of
// a second of capture. Frames are taken by capture time: slot k spans the
// seventh of a second that begins k/7 s after the first frame, and the first
// frame captured in it fills it. A camera faster than 7 a second has frames
// left out; a slot in which a slower one (or one that stalled) captured
// nothing shows the last frame again. So N seconds asked are N seconds of
// what happened, played at the speed it happened, and the seconds-left
// notices follow real seconds.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "capture/capture_messages.h"
#include "common/video_frame.h"
#include "plat/types.h"
#include "record/record_owner.h"

class CAVIFile;

// Whole seconds of recording left, after every whole second written; 0 when
// the recording has used up its seconds.
using SecondsLeftHook = std::function<void(std::int32_t seconds)>;

class CaptureRecording final : private RecordOwner {
 public:
  // Null, and nothing created, unless `path` (without surrounding spaces)
  // ends in ".avi"; the file is made under `path` as given, at the first
  // frame. Copies go to `window` as WM_CAPTURE_FRAME; `seconds_left` hears
  // how far the file has come.
  static std::unique_ptr<CaptureRecording> Start(const std::string& path, std::int32_t width,
                                                 std::int32_t height, std::int32_t seconds,
                                                 SecondsLeftHook seconds_left, plat::HWND window);
  CaptureRecording(std::unique_ptr<CAVIFile> avi, std::string path, SecondsLeftHook seconds_left,
                   plat::HWND window);
  // Detaches the owner and completes the file.
  ~CaptureRecording();
  CaptureRecording(const CaptureRecording&) = delete;
  CaptureRecording& operator=(const CaptureRecording&) = delete;

  // A frame captured at `capture_us` (any steady clock, microseconds): when it
  // is the first of its slot, a copy goes to the window.
  void Take(const VideoFrame& frame, std::int64_t capture_us);
  // Writes a copy the window handed back, after the last frame again for each
  // slot skipped before it. False when the recording has ended (the caller
  // destroys it); a failed write is logged at error level.
  bool Write(FrameCopy copy);

 private:
  void OnRecordSecondsLeft(std::int32_t seconds) override;
  FrameCopy MakeCopy(const VideoFrame& frame);
  bool WriteOnce(const FrameCopyData& copy);

  std::unique_ptr<CAVIFile> avi_;
  const std::string path_;
  const SecondsLeftHook seconds_left_;
  const plat::HWND window_;
  std::int64_t start_us_ = -1;  // capture time of the first frame
  std::int64_t next_slot_ = 0;  // slots before it are taken
  bool ended_ = false;
  FrameCopy last_;  // the frame written last, for the slots skipped
  // A written copy kept for the next frame taken: frames of one size reuse
  // their buffers instead of allocating each.
  FrameCopy spare_;
};
