// The local camera: device choice, the capture graph's lifecycle, and the
// hidden window through which the graph's notices and recorded frames arrive.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/camera_system.h"
#include "capture/capture_graph.h"
#include "capture/capture_recording.h"
#include "capture/device_selection.h"
#include "capture/graph_events.h"
#include "capture/video_callback.h"
#include "capture/video_render.h"
#include "common/aligned_buffer.h"
#include "common/thread_checker.h"
#include "common/video_frame.h"
#include "pixel/pixel_converter.h"
#include "plat/types.h"

// Everything here runs on the thread that constructed the object: it owns the
// hidden window, so it must pump messages, and it alone may destroy the object.
//
// A camera lost while running (unplugged, its driver failed) is reported
// through OnCaptureError; its graph is torn down (a recording ends there) and
// the object watches for the same device to come back, then captures again
// at the same size and rate.
class VideoCapture : public VideoCallback {
 public:
  // The system's cameras.
  VideoCapture();
  // The cameras `system` offers (a test's own devices, for one).
  explicit VideoCapture(std::unique_ptr<CameraSystem> system);
  VideoCapture(const VideoCapture&) = delete;
  VideoCapture& operator=(const VideoCapture&) = delete;

  // Hooks, in this order; the owner binding overrides the last three.
  void OnSample(SampleRecord* record) override;
  // Whole seconds of recording left, after every second written.
  virtual void OnRecordSecondsLeft(std::int32_t seconds);
  // A captured frame; its pixels are valid only during the call.
  virtual void OnFrame(const VideoFrame* frame);
  // The camera failed while running ("EC_DEVICE_LOST").
  virtual void OnCaptureError(const char* text);
  // Declared after the hooks so that they keep their places ahead of it.
  virtual ~VideoCapture();

  // Opens the camera named by `driver` (empty: the last one given, or the
  // first usable device) at width x height and frame_rate; 0 keeps the
  // current value. While running, a zero or unchanged size keeps the running
  // graph untouched. False when no device can be opened.
  bool Open(const std::string& driver, std::int32_t width, std::int32_t height,
            std::int32_t frame_rate);
  // Stops and tears down a running graph; false when nothing runs.
  bool Stop();
  bool IsRunning() const { return running_; }

  // From inside OnFrame: the converted picture the frame points into, and the
  // bytes it holds. A hook may swap both for a buffer of its own (empty, or
  // of any size) to keep the picture without copying it; the frame's pixels
  // stay where they are, and the next sample is converted into what is here
  // then. Null when the frame delivered is not that picture.
  AlignedBuffer* converted_picture(const VideoFrame& frame, std::int32_t** capacity) {
    VC_DCHECK_RUN_ON(&checker_);
    if (!converted_ || frame.data != converted_.get())
      return nullptr;
    *capacity = &converted_size_;
    return &converted_;
  }
  // The camera was lost and is awaited back; Open and Stop end the wait.
  bool IsLost() const { return lost_; }
  // Appends every usable device to `devices` (never clears it); true when at
  // least one was appended.
  bool ListDevices(std::vector<ListedDevice>& devices);
  // Cameras here have no settings sheets of their own: always false.
  bool ShowCameraProperties();
  // Records the camera into an AVI file for `seconds`, ending a recording in
  // progress first. False, and nothing created, unless the path (without
  // surrounding spaces) ends in ".avi"; the file is made under `path` as given.
  bool StartRecording(const std::string& path, std::int32_t seconds);
  bool IsRecording() const {
    VC_DCHECK_RUN_ON(&checker_);
    return recording_ != nullptr;
  }
  // Drains the graph's event queue; false when there is no graph.
  bool HandleGraphEvents();

  // The hidden window's two private messages and the lost camera's watch.
  // Takes ownership of a WM_CAPTURE_FRAME's copy in lParam.
  void HandleWindowMessage(plat::HWND hwnd, plat::UINT message, plat::WPARAM wparam,
                           plat::LPARAM lparam);

  plat::HWND hwnd() const { return hwnd_; }
  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  std::int32_t frame_rate() const { return frame_rate_; }
  // Capture never uses the bit rate; the encoders read it with every frame.
  std::int32_t bit_rate() const { return bit_rate_; }
  void set_bit_rate(std::int32_t bit_rate) { bit_rate_ = bit_rate; }
  const std::string& driver() const { return driver_; }
  const std::string& last_error() const { return last_error_; }
  // The running graph and its renderer; null while there is none.
  const CaptureGraph* graph() const { return graph_.get(); }
  const VideoRender* renderer() const { return renderer_.get(); }

  static constexpr char kWindowClassName[] = "VideoWndClass";
  static constexpr char kWindowName[] = "VideoWnd";
  // How often a lost camera is looked for.
  static constexpr plat::UINT kDeviceWatchMs = 500;

 private:
  static plat::LRESULT WindowProc(plat::HWND hwnd, plat::UINT message, plat::WPARAM wparam,
                                  plat::LPARAM lparam);
  void CreateHiddenWindow();
  void DestroyHiddenWindow();
  // Keeps the device `driver` names (else, unless `exact`, the first usable
  // one) in moniker_.
  bool SelectDevice(const std::string& driver, bool exact);
  // Builds and runs the graph of the selected device; false leaves none.
  bool Build(const std::string& driver, bool exact, std::int32_t width, std::int32_t height,
             std::int32_t frame_rate);
  bool Run();
  // Tears the lost camera's graph down and starts looking for it.
  void LoseDevice();
  // Ends the watch for a lost camera.
  void StopWatching();
  // A tick of the watch: the lost camera back, capture again.
  void LookForLostDevice();
  // Gives up every graph handle (and ends a recording); leaves running_ alone.
  void ReleaseGraph();
  // The sample in 32-bit bottom-up pixels: the record's own buffer when it
  // holds them already, else the capture object's converted picture; false
  // drops it (not video, a subtype other than RGB24, YUY2 and ARGB32, or a
  // buffer too short for the size it claims).
  bool ConvertSample(SampleRecord* record, VideoFrame& frame);

  COMM::ThreadChecker checker_;
  plat::HWND hwnd_ = 0;  // 0 when the window could not be made
  std::int32_t width_ = 176;
  std::int32_t height_ = 144;
  std::int32_t frame_rate_ = 30;  // last applied to the device
  std::int32_t bit_rate_ = 147000;
  std::unique_ptr<CameraSystem> system_;
  // ---- The camera graph. Every handle is empty while no graph exists. ----
  GraphEvents* events_ VC_GUARDED_BY(checker_) = nullptr;          // the graph's event queue
  std::unique_ptr<CameraDevice> moniker_ VC_GUARDED_BY(checker_);  // the selected device
  std::unique_ptr<VideoRender> renderer_;
  std::unique_ptr<CaptureGraph> graph_;  // source to renderer, and its run control
  bool running_ = false;                 // from a successful run until a successful stop
  bool lost_ = false;                    // the camera is lost and awaited back
  std::string lost_driver_ VC_GUARDED_BY(checker_);  // the driver text of the lost camera
  std::string driver_;                               // last non-empty driver given to Open
  std::string last_error_;                           // never cleared
  std::unique_ptr<CaptureRecording> recording_ VC_GUARDED_BY(checker_);
  PixelConverter converter_;
  // The converted picture of the latest sample, kept and reused while big
  // enough: a fresh buffer of this size for every frame costs page faults.
  AlignedBuffer converted_ VC_GUARDED_BY(checker_);
  std::int32_t converted_size_ VC_GUARDED_BY(checker_) = 0;
};
