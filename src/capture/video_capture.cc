#include "capture/video_capture.h"

#include "capture/capture_messages.h"
#include "plat/message.h"
#include "plat/window.h"

namespace {

// A captioned, sizable top-level window; without WS_VISIBLE it stays hidden.
constexpr plat::DWORD WS_OVERLAPPEDWINDOW = 0x00CF0000;

// The class belongs to the process image, so that registration and
// unregistration name the same class.
plat::HINSTANCE ProcessInstance() {
  return plat::GetModuleHandle(nullptr);
}

}  // namespace

VideoCapture::VideoCapture() {
  CreateHiddenWindow();
}

VideoCapture::~VideoCapture() {
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
  if (message == WM_CAPTURE_FRAME || message == WM_GRAPH_NOTIFY) {
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
  if (message == WM_GRAPH_NOTIFY) {
    HandleGraphEvents();
  } else if (message == WM_CAPTURE_FRAME) {
    FrameCopy copy = FrameCopyFromMessage(lparam);
    // TODO(avi writer): hand the copy to the recording in progress at
    // width_ x height_, and end the recording when the writer refuses it.
    // Without a recording the copy is freed unwritten.
  }
}

void VideoCapture::OnSample(SampleRecord* record) {
  // TODO(camera graph): the sample path (conversion to 32-bit frames, the
  // recording copy, OnFrame). No renderer exists before the graph, so no
  // sample can arrive yet.
}

void VideoCapture::OnRecordSecondsLeft(std::int32_t seconds) {}

void VideoCapture::OnFrame(const VideoFrame* frame) {}

void VideoCapture::OnCaptureError(const char* text) {}

bool VideoCapture::Open(const std::string& driver, std::int32_t width, std::int32_t height,
                        std::int32_t frame_rate) {
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
  if (!SelectDevice(driver_)) {
    return false;
  }
  // TODO(camera graph): build the graph for the selected device (events to
  // hwnd_ as WM_GRAPH_NOTIFY), choose the format at width x height, set the
  // frame rate, attach the renderer with this object as its callback,
  // connect, run; any failure ends in ReleaseGraph() and false.
  ReleaseGraph();
  return false;
}

bool VideoCapture::SelectDevice(const std::string& driver) {
  // TODO(camera graph): the device named by `driver`, else the first usable
  // one. Until devices can be enumerated there is none to select.
  return false;
}

bool VideoCapture::Stop() {
  if (!running_) {
    return false;
  }
  // TODO(camera graph): stop through the graph's run control; on success
  // running_ = false, ReleaseGraph(), true. A graph that refuses to stop
  // stays as it is, still running.
  return false;
}

void VideoCapture::ReleaseGraph() {
  // TODO(camera graph): stop and give up the run control first, then the
  // event queue, the device, and the filters out of the graph.
  events_.reset();
  // TODO(avi writer): end a recording in progress (detach, close, clear).
}

bool VideoCapture::ListDevices(kalo::video::DeviceList& devices) {
  // TODO(camera graph): append (path, name) of every device that can be
  // instantiated, "virtual video camera" for one without a path. With no
  // video input device nothing is appended and the list stays as it was.
  return false;
}

bool VideoCapture::ShowCameraProperties() {
  // TODO(camera graph): the source's own settings sheet. Without a graph
  // there is no device to show.
  return false;
}

bool VideoCapture::StartRecording(const std::string& path, std::int32_t seconds) {
  // TODO(avi writer): the ".avi" test on the trimmed path, then a new writer
  // for `path` at width_ x height_. Without a writer nothing can record, and
  // no recording is claimed.
  return false;
}

bool VideoCapture::HandleGraphEvents() {
  if (!events_) {
    return false;
  }
  std::int32_t code = 0;
  while (events_->GetEvent(&code)) {
    // A lost camera is reported only; the graph and running_ stay as they are.
    if (code == EC_DEVICE_LOST) {
      last_error_ = "EC_DEVICE_LOST";
      OnCaptureError(last_error_.c_str());
    }
  }
  return true;
}
