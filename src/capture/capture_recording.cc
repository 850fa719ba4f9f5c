#include "capture/capture_recording.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "common/debug_log.h"
#include "plat/message.h"
#include "record/avi_file.h"
#include "record/avi_layout.h"

namespace {

constexpr std::int64_t kMicrosecondsPerSecond = 1000000;

// From the last dot of the last path component, the dot included; empty
// when there is none.
std::string PathExtension(const std::string& path) {
  const std::size_t name = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (name != std::string::npos && dot < name)) {
    return {};
  }
  return path.substr(dot);
}

std::string TrimSpaces(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::unique_ptr<CaptureRecording> CaptureRecording::Start(const std::string& path,
                                                          std::int32_t width, std::int32_t height,
                                                          std::int32_t seconds,
                                                          SecondsLeftHook seconds_left,
                                                          plat::HWND window) {
  if (PathExtension(TrimSpaces(path)) != ".avi") {
    return nullptr;
  }
  try {
    return std::make_unique<CaptureRecording>(
        std::make_unique<CAVIFile>(path, width, height, seconds), path, std::move(seconds_left),
        window);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

CaptureRecording::CaptureRecording(std::unique_ptr<CAVIFile> avi, std::string path,
                                   SecondsLeftHook seconds_left, plat::HWND window)
    : avi_(std::move(avi)),
      path_(std::move(path)),
      seconds_left_(std::move(seconds_left)),
      window_(window) {
  avi_->SetOwner(this);
}

CaptureRecording::~CaptureRecording() {
  avi_->ClearOwner();
}

void CaptureRecording::OnRecordSecondsLeft(std::int32_t seconds) {
  if (seconds_left_) {
    seconds_left_(seconds);
  }
}

void CaptureRecording::Take(const VideoFrame& frame, std::int64_t capture_us) {
  if (ended_ || !avi_->IsOpen()) {
    return;
  }
  if (start_us_ < 0) {
    start_us_ = capture_us;
  }
  if (capture_us < start_us_) {
    return;  // older than the first frame: nothing of the file is its
  }
  const std::int64_t slot =
      (capture_us - start_us_) * avi::kFramesPerSecond / kMicrosecondsPerSecond;
  if (slot < next_slot_) {
    return;  // its slot has its frame
  }
  FrameCopy copy = MakeCopy(frame);
  if (!copy) {
    return;  // the slot falls to the next frame that fits in memory
  }
  // A stall longer than any file repeats no frame past its end.
  copy->repeat_last = static_cast<std::int32_t>(
      std::min<std::int64_t>(slot - next_slot_, avi::kFramesPerSecond * std::int64_t{3600}));
  const plat::LPARAM lparam = FrameCopyToMessage(std::move(copy));
  if (!plat::PostMessage(window_, WM_CAPTURE_FRAME, 0, lparam)) {
    FrameCopyFromMessage(lparam);
    return;  // the next frame makes up for the slots
  }
  next_slot_ = slot + 1;
}

FrameCopy CaptureRecording::MakeCopy(const VideoFrame& frame) {
  const std::size_t bytes = static_cast<std::size_t>(frame.height) * frame.stride;
  FrameCopy copy = std::move(spare_);
  if (!copy || copy->width != frame.width || copy->height != frame.height) {
    try {
      copy = std::make_unique<FrameCopyData>();
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    copy->pixels = MakeAlignedBuffer(bytes);
    if (!copy->pixels) {
      return nullptr;
    }
    copy->width = frame.width;
    copy->height = frame.height;
  }
  std::memcpy(copy->pixels.get(), frame.data, bytes);
  return copy;
}

bool CaptureRecording::WriteOnce(const FrameCopyData& copy) {
  ended_ = !avi_->WriteFrame(copy.pixels.get(), copy.width, copy.height);
  return !ended_;
}

bool CaptureRecording::Write(FrameCopy copy) {
  if (!copy || ended_) {
    return !ended_;
  }
  const FrameCopyData& repeated = last_ ? *last_ : *copy;
  for (std::int32_t i = 0; i < copy->repeat_last && WriteOnce(repeated); ++i) {
  }
  if (!ended_) {
    WriteOnce(*copy);
  }
  if (ended_ && avi_->failed()) {
    const std::int32_t frames = avi_->frame_count();
    DEBUG_LOG(6, "[CaptureRecording::Write] write failed: %s holds %d frames (%.1f s)",
              path_.c_str(), frames, static_cast<double>(frames) / avi::kFramesPerSecond);
  }
  spare_ = std::move(last_);
  last_ = std::move(copy);
  return !ended_;
}
