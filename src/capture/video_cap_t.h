// The capture object bound to its owner, which hears its frames and notices.
#pragma once

#include <cstdint>

#include "capture/video_capture.h"
#include "common/video_frame.h"

namespace kalo::video {

// Owner must offer OnRecordSecondsLeft(std::int32_t), OnFrame(const VideoFrame*)
// and OnCaptureError(const char*); whatever they return is ignored.
template <typename Owner>
class VideoCapT : public VideoCapture {
 public:
  VideoCapT() = default;
  ~VideoCapT() override = default;

  // Binds the owner right after construction, before the first Open: nothing
  // reaches the hooks earlier. The owner is not owned and must outlive the
  // binding.
  void SetManager(Owner* manager) { manager_ = manager; }
  Owner* manager() const { return manager_; }

  void OnRecordSecondsLeft(std::int32_t seconds) override {
    if (manager_ != nullptr) {
      manager_->OnRecordSecondsLeft(seconds);
    }
  }
  void OnFrame(const VideoFrame* frame) override {
    if (manager_ != nullptr) {
      manager_->OnFrame(frame);
    }
  }
  void OnCaptureError(const char* text) override {
    if (manager_ != nullptr) {
      manager_->OnCaptureError(text);
    }
  }

 private:
  Owner* manager_ = nullptr;
};

}  // namespace kalo::video
