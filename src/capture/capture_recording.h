// The camera's recording into an AVI file: which frames go into the file, and
// their way to the writer through the capture object's window.
//
// The file plays at 7 frames a second, so each frame stands for a seventh of
// a second of capture. Frames are taken by capture time: slot k begins k/7 s
// after the first frame, and the first frame captured at or after that moment
// fills it. A camera faster than 7 a second has frames left out; a slower
// one (or one that skipped) fills the slots it missed with the frame that
// came next. So N seconds asked are N seconds of what happened, played at
// the speed it happened, and the seconds-left notices follow real seconds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/capture_messages.h"
#include "common/video_frame.h"
#include "plat/types.h"
#include "record/record_owner.h"

class CAVIFile;

class CaptureRecording {
 public:
  // Null, and nothing created, unless `path` (without surrounding spaces)
  // ends in ".avi"; the file is made under `path` as given, at the first
  // frame. Copies go to `window` as WM_CAPTURE_FRAME; `owner` hears the
  // seconds left.
  static std::unique_ptr<CaptureRecording> Start(const std::string& path, std::int32_t width,
                                                 std::int32_t height, std::int32_t seconds,
                                                 RecordOwner* owner, plat::HWND window);
  CaptureRecording(std::unique_ptr<CAVIFile> avi, std::string path, plat::HWND window);
  // Detaches the owner and completes the file.
  ~CaptureRecording();
  CaptureRecording(const CaptureRecording&) = delete;
  CaptureRecording& operator=(const CaptureRecording&) = delete;

  // A frame captured at `capture_us` (any steady clock, microseconds): when it
  // fills one slot or more, a copy goes to the window.
  void Take(const VideoFrame& frame, std::int64_t capture_us);
  // Writes a copy the window handed back, once for each slot it fills. False
  // when the recording has ended (the caller destroys it); a failed write is
  // logged at error level.
  bool Write(FrameCopy copy);

  // Slots filled so far by frames taken (not all written yet).
  std::int64_t slots_taken() const { return slots_taken_; }

 private:
  FrameCopy MakeCopy(const VideoFrame& frame);

  std::unique_ptr<CAVIFile> avi_;
  const std::string path_;
  const plat::HWND window_;
  std::int64_t start_us_ = -1;  // capture time of the first frame
  std::int64_t slots_taken_ = 0;
  bool ended_ = false;
  // A written copy kept for the next frame taken: frames of one size reuse
  // their buffers instead of allocating each.
  FrameCopy spare_;
};
