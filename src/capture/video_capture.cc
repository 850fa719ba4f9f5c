#include "capture/video_capture.h"

#include <chrono>
#include <new>
#include <utility>
#include <vector>

#include "capture/capture_messages.h"
#include "capture/device_selection.h"
#include "capture/format_choice.h"
#include "capture/sample_record.h"
#include "external/picture_limits.h"
#include "plat/kernel.h"
#include "plat/message.h"
#include "plat/timer.h"
#include "plat/window.h"

namespace {

// A captioned, sizable top-level window; without WS_VISIBLE it stays hidden.
constexpr plat::DWORD WS_OVERLAPPEDWINDOW = 0x00CF0000;

// The class belongs to the process image, so that registration and
// unregistration name the same class.
plat::HINSTANCE ProcessInstance() {
  return plat::GetModuleHandle(nullptr);
}

// The watch for a lost camera.
constexpr plat::UINT_PTR kDeviceWatchTimer = 1;

// When the camera took the picture, in microseconds of a steady clock: the
// stream time the graph stamped it with, else the time it reached us.
std::int64_t CaptureMicroseconds(const SampleRecord& record) {
  if (record.time_start >= 0) {
    return record.time_start / 10;
  }
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::vector<DeviceEntry> Entries(const std::vector<CameraDevice>& devices) {
  std::vector<DeviceEntry> entries;
  entries.reserve(devices.size());
  for (const CameraDevice& device : devices) {
    entries.push_back(device.entry);
  }
  return entries;
}

// Bytes a sample of this type must hold for the converter to read it whole.
std::int64_t SourceBytes(MediaSubtype subtype, std::int64_t width, std::int64_t height) {
  switch (subtype) {
    case MediaSubtype::kRGB24:
      return width * 3 * height;
    case MediaSubtype::kYUY2:
      return width / 2 * 4 * height;
    case MediaSubtype::kARGB32:
      return width * 4 * height;
    default:
      return 0;
  }
}

}  // namespace

VideoCapture::VideoCapture() : VideoCapture(MakeCameraSystem()) {}

VideoCapture::VideoCapture(std::unique_ptr<CameraSystem> system) : system_(std::move(system)) {
  CreateHiddenWindow();
}

VideoCapture::~VideoCapture() {
  VC_DCHECK_RUN_ON(&checker_);
  StopWatching();
  Stop();
  DestroyHiddenWindow();
  ReleaseGraph();
}

void VideoCapture::CreateHiddenWindow() {
  plat::WNDCLASS wc;
  wc.style = 0;
  wc.lpfnWndProc = &VideoCapture::WindowProc;
  wc.cbWndExtra = 4;
  wc.hInstance = ProcessInstance();
  wc.lpszClassName = kWindowClassName;
  // A second capture object finds the class registered and uses it as it is.
  plat::RegisterClass(&wc);

  hwnd_ = plat::CreateWindow(kWindowClassName, kWindowName, WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, 0,
                             nullptr, ProcessInstance(), nullptr);
  // Without the window the camera still works; only graph notices and
  // recorded frames never arrive.
  if (hwnd_ != 0) {
    plat::SetWindowLongPtr(hwnd_, plat::GWLP_USERDATA, reinterpret_cast<plat::LONG_PTR>(this));
  }
}

void VideoCapture::DestroyHiddenWindow() {
  if (plat::IsWindow(hwnd_)) {
    plat::KillTimer(hwnd_, kDeviceWatchTimer);
    // Copies still queued would be dispatched nowhere once the window is
    // gone, and their buffers lost; they are dropped unwritten instead.
    plat::MSG msg;
    while (plat::PeekMessage(&msg, hwnd_, WM_CAPTURE_FRAME, WM_CAPTURE_FRAME, plat::PM_REMOVE)) {
      FrameCopyFromMessage(msg.lParam);
    }
    // Unlinked first, so that nothing the destruction delivers reaches this
    // half-destroyed object.
    plat::SetWindowLongPtr(hwnd_, plat::GWLP_USERDATA, 0);
    plat::DestroyWindow(hwnd_);
  }
  hwnd_ = 0;
  // Fails harmlessly while another capture object's window still uses the class.
  plat::UnregisterClass(kWindowClassName, ProcessInstance());
}

plat::LRESULT VideoCapture::WindowProc(plat::HWND hwnd, plat::UINT message, plat::WPARAM wparam,
                                       plat::LPARAM lparam) {
  if (message == WM_CAPTURE_FRAME || message == WM_GRAPH_NOTIFY ||
      (message == plat::WM_TIMER && wparam == kDeviceWatchTimer)) {
    auto* self = reinterpret_cast<VideoCapture*>(plat::GetWindowLongPtr(hwnd, plat::GWLP_USERDATA));
    if (self != nullptr) {
      self->HandleWindowMessage(hwnd, message, wparam, lparam);
    } else if (message == WM_CAPTURE_FRAME) {
      // The message owns its copy; with no object to hand it to, drop it here.
      FrameCopyFromMessage(lparam);
    }
  }
  return plat::DefWindowProc(hwnd, message, wparam, lparam);
}

void VideoCapture::HandleWindowMessage(plat::HWND hwnd, plat::UINT message, plat::WPARAM wparam,
                                       plat::LPARAM lparam) {
  VC_DCHECK_RUN_ON(&checker_);
  if (message == WM_GRAPH_NOTIFY) {
    HandleGraphEvents();
  } else if (message == WM_CAPTURE_FRAME) {
    // Without a recording the copy is freed unwritten.
    FrameCopy copy = FrameCopyFromMessage(lparam);
    if (copy && recording_ && !recording_->Write(std::move(copy))) {
      recording_.reset();
    }
  } else if (message == plat::WM_TIMER && wparam == kDeviceWatchTimer) {
    LookForLostDevice();
  }
}

void VideoCapture::OnSample(SampleRecord* record) {
  VC_DCHECK_RUN_ON(&checker_);
  VideoFrame frame;
  frame.timestamp = plat::WallClockMilliseconds();
  if (record == nullptr || !record->data) {
    return;
  }
  if (!ConvertSample(record, frame)) {
    return;
  }
  if (recording_) {
    recording_->Take(frame, CaptureMicroseconds(*record));
  }
  OnFrame(&frame);
}

bool VideoCapture::ConvertSample(SampleRecord* record, VideoFrame& frame) {
  VC_DCHECK_RUN_ON(&checker_);
  MediaType& type = record->media_type;
  if (!type.video) {
    return false;
  }
  const std::int32_t w = type.width;
  const std::int32_t h = type.height;
  // A size past the picture bound, or a buffer shorter than the size claims,
  // would make the converter read or allocate beyond reason.
  if (!PictureSizeAllowed(w, h) || record->size < SourceBytes(type.subtype, w, h)) {
    return false;
  }
  frame.width = w;
  frame.height = h;
  frame.stride = 4 * w;
  if (type.subtype == MediaSubtype::kARGB32) {
    frame.data = record->data.get();
    return true;
  }
  if (type.subtype != MediaSubtype::kRGB24 && type.subtype != MediaSubtype::kYUY2) {
    return false;
  }
  // Within 32 bits: the size is bounded by PictureSizeAllowed.
  const std::int32_t bytes = 4 * w * h;
  if (!converted_ || converted_size_ < bytes) {
    converted_.reset();
    converted_size_ = 0;
    converted_ = MakeAlignedBuffer(static_cast<std::size_t>(bytes));
    if (!converted_) {
      return false;
    }
    converted_size_ = bytes;
  }
  frame.data = converted_.get();
  if (type.subtype == MediaSubtype::kRGB24) {
    converter_.Rgb24ToRgb32(record->data.get(), frame);
  } else {
    converter_.Yuy2ToRgb32(record->data.get(), frame);
  }
  return true;
}

void VideoCapture::OnRecordSecondsLeft(std::int32_t seconds) {}

void VideoCapture::OnFrame(const VideoFrame* frame) {}

void VideoCapture::OnCaptureError(const char* text) {}

bool VideoCapture::Open(const std::string& driver, std::int32_t width, std::int32_t height,
                        std::int32_t frame_rate) {
  VC_DCHECK_RUN_ON(&checker_);
  StopWatching();
  if (running_) {
    // A running camera keeps its graph, and the driver given is not taken
    // over, unless a new size is asked for.
    if (width == 0 || height == 0) {
      return true;
    }
    if (width == width_ && height == height_) {
      return true;
    }
    Stop();
  }
  if (!driver.empty()) {
    driver_ = driver;
  }
  return Build(driver_, false, width, height, frame_rate);
}

bool VideoCapture::Build(const std::string& driver, bool exact, std::int32_t width,
                         std::int32_t height, std::int32_t frame_rate) {
  VC_DCHECK_RUN_ON(&checker_);
  if (!SelectDevice(driver, exact)) {
    return false;
  }
  GraphFormat format;
  if (!ChooseFormat(moniker_->caps, width, height, width_, height_, format)) {
    ReleaseGraph();
    return false;
  }
  // A device that refuses the rate keeps its own.
  SetFrameRate(moniker_->caps, frame_rate, frame_rate_, format);
  try {
    renderer_ = std::make_unique<VideoRender>();
  } catch (const std::bad_alloc&) {
    ReleaseGraph();
    return false;
  }
  // Samples reach OnSample on this thread from now on.
  renderer_->SetCallback(this);
  graph_ = moniker_->source->BuildGraph(format, *renderer_, hwnd_);
  if (!graph_) {
    ReleaseGraph();
    return false;
  }
  events_ = &graph_->events();
  if (!Run()) {
    ReleaseGraph();
    return false;
  }
  return true;
}

bool VideoCapture::SelectDevice(const std::string& driver, bool exact) {
  VC_DCHECK_RUN_ON(&checker_);
  moniker_.reset();
  std::vector<CameraDevice> devices;
  if (!system_ || !system_->Devices(devices)) {
    return false;
  }
  const std::optional<std::size_t> index = exact ? SelectDeviceByPath(Entries(devices), driver)
                                                 : ::SelectDevice(Entries(devices), driver);
  if (!index || !devices[*index].source) {
    return false;
  }
  moniker_ = std::make_unique<CameraDevice>(std::move(devices[*index]));
  return true;
}

bool VideoCapture::Run() {
  if (running_) {
    return true;
  }
  if (!graph_ || !graph_->Run()) {
    return false;
  }
  running_ = true;
  return true;
}

bool VideoCapture::Stop() {
  VC_DCHECK_RUN_ON(&checker_);
  StopWatching();
  if (!running_ || !graph_) {
    return false;
  }
  // A graph that refuses to stop stays as it is, still running.
  if (!graph_->Stop()) {
    return false;
  }
  running_ = false;
  ReleaseGraph();
  return true;
}

void VideoCapture::ReleaseGraph() {
  VC_DCHECK_RUN_ON(&checker_);
  if (graph_) {
    graph_->Stop();
  }
  events_ = nullptr;
  moniker_.reset();
  // The graph goes before its renderer: no streaming thread can be left
  // holding the renderer. Records still queued for this thread are released
  // undelivered.
  graph_.reset();
  renderer_.reset();
  recording_.reset();
}

bool VideoCapture::ListDevices(std::vector<ListedDevice>& devices) {
  VC_DCHECK_RUN_ON(&checker_);
  std::vector<CameraDevice> found;
  if (!system_ || !system_->Devices(found)) {
    last_error_ = "Fail to create device enum";
    return false;
  }
  return ::ListDevices(Entries(found), devices);
}

bool VideoCapture::ShowCameraProperties() {
  return false;
}

bool VideoCapture::StartRecording(const std::string& path, std::int32_t seconds) {
  VC_DCHECK_RUN_ON(&checker_);
  std::unique_ptr<CaptureRecording> recording = CaptureRecording::Start(
      path, width_, height_, seconds,
      [this](std::int32_t seconds_left) { OnRecordSecondsLeft(seconds_left); }, hwnd_);
  if (!recording) {
    return false;
  }
  // The recording in progress ends (its file complete) before the next begins.
  recording_.reset();
  recording_ = std::move(recording);
  return true;
}

bool VideoCapture::HandleGraphEvents() {
  VC_DCHECK_RUN_ON(&checker_);
  if (!events_) {
    return false;
  }
  bool lost = false;
  std::int32_t code = 0;
  while (events_->GetEvent(&code)) {
    lost = lost || code == EC_DEVICE_LOST;
  }
  if (lost) {
    last_error_ = "EC_DEVICE_LOST";
    // Torn down before the owner hears of it, so that it sees the camera lost.
    LoseDevice();
    OnCaptureError(last_error_.c_str());
  }
  return true;
}

void VideoCapture::LoseDevice() {
  VC_DCHECK_RUN_ON(&checker_);
  lost_driver_ = moniker_ && !moniker_->entry.path.empty() ? moniker_->entry.path
                                                           : std::string(kVirtualCameraDriver);
  if (graph_) {
    graph_->Stop();
  }
  running_ = false;
  ReleaseGraph();
  lost_ = plat::SetTimer(hwnd_, kDeviceWatchTimer, kDeviceWatchMs, nullptr) != 0;
}

void VideoCapture::StopWatching() {
  VC_DCHECK_RUN_ON(&checker_);
  if (lost_) {
    plat::KillTimer(hwnd_, kDeviceWatchTimer);
    lost_ = false;
  }
}

void VideoCapture::LookForLostDevice() {
  VC_DCHECK_RUN_ON(&checker_);
  if (!lost_) {
    plat::KillTimer(hwnd_, kDeviceWatchTimer);
    return;
  }
  // Only the camera that went away: another one would be a choice the host
  // did not make.
  if (Build(lost_driver_, true, width_, height_, frame_rate_)) {
    StopWatching();
  }
}
