#include "capture/video_render.h"

#include <cstring>

#include "plat/message.h"
#include "plat/window.h"

namespace {

// wParam: a SampleRecord the message owns.
constexpr plat::UINT WM_RENDER_SAMPLE = plat::WM_USER + 10;

plat::HINSTANCE ProcessInstance() {
  return plat::GetModuleHandle(nullptr);
}

}  // namespace

// The record's bytes in the order the sample path expects.
SampleRecord* VideoRender::CopySample(const RawSample& sample) {
  std::size_t bytes = sample.size;
  if (sample.rows > 0) {
    const std::size_t rows = static_cast<std::size_t>(sample.rows);
    const std::size_t row_bytes = static_cast<std::size_t>(sample.row_bytes);
    if (sample.row_bytes <= 0 || sample.stride < sample.row_bytes ||
        static_cast<std::size_t>(sample.stride) * (rows - 1) + row_bytes > sample.size) {
      return nullptr;
    }
    bytes = rows * row_bytes;
  }
  if (sample.data == nullptr || bytes == 0 || bytes > INT32_MAX) {
    return nullptr;
  }
  SampleRecord* record = pool_.Take(bytes);
  if (record == nullptr) {
    return nullptr;
  }
  // Rows that lie back to back in order go in one copy.
  if (sample.rows == 0 || (!sample.flip && sample.stride == sample.row_bytes)) {
    std::memcpy(record->data.get(), sample.data, bytes);
  } else {
    for (std::int32_t y = 0; y < sample.rows; ++y) {
      const std::int32_t from = sample.flip ? sample.rows - 1 - y : y;
      std::memcpy(record->data.get() + std::ptrdiff_t{y} * sample.row_bytes,
                  sample.data + from * sample.stride, static_cast<std::size_t>(sample.row_bytes));
    }
  }
  record->size = static_cast<std::int32_t>(bytes);
  record->actual_length = sample.actual_length;
  record->media_type = sample.media_type;
  record->media_start = sample.media_start;
  record->media_stop = sample.media_stop;
  record->time_start = sample.time_start;
  record->time_stop = sample.time_stop;
  return record;
}

VideoRender::VideoRender() : owner_thread_(plat::GetCurrentThreadId()) {
  plat::WNDCLASS wc;
  wc.lpfnWndProc = &VideoRender::WindowProc;
  wc.hInstance = ProcessInstance();
  wc.lpszClassName = kWindowClassName;
  // Another renderer's class of the same name serves as well.
  plat::RegisterClass(&wc);
  hwnd_ = plat::CreateWindow(kWindowClassName, kWindowClassName, 0, 0, 0, 0, 0, 0, nullptr,
                             ProcessInstance(), nullptr);
  if (hwnd_ != 0) {
    plat::SetWindowLongPtr(hwnd_, plat::GWLP_USERDATA, reinterpret_cast<plat::LONG_PTR>(this));
  }
}

VideoRender::~VideoRender() {
  VC_DCHECK_RUN_ON(&checker_);
  {
    // Waits out a delivery still in progress, so that everything the last
    // streaming thread did here is done before the object goes.
    std::lock_guard<std::recursive_mutex> hold(lock_);
    callback_ = nullptr;
  }
  if (hwnd_ == 0) {
    return;
  }
  // Records still queued are dropped without a callback (there is none
  // now); the pool frees them with the renderer.
  plat::MSG msg;
  while (plat::PeekMessage(&msg, hwnd_, 0, 0, plat::PM_REMOVE)) {
    plat::DispatchMessage(&msg);
  }
  plat::SetWindowLongPtr(hwnd_, plat::GWLP_USERDATA, 0);
  plat::DestroyWindow(hwnd_);
  plat::UnregisterClass(kWindowClassName, ProcessInstance());
  hwnd_ = 0;
}

void VideoRender::SetCallback(VideoCallback* callback) {
  VC_DCHECK_RUN_ON(&checker_);
  std::lock_guard<std::recursive_mutex> hold(lock_);
  owner_thread_ = plat::GetCurrentThreadId();
  callback_ = callback;
}

void VideoRender::ClearCallback() {
  callback_ = nullptr;
}

void VideoRender::DoRenderSample(const RawSample& sample) {
  std::lock_guard<std::recursive_mutex> hold(lock_);
  const bool posted = plat::GetCurrentThreadId() != owner_thread_;
  if (callback_ == nullptr) {
    return;
  }
  // A full pipeline to a thread that does not pump: the copy would only wait.
  if (posted && in_flight_.load() >= kMaxRecordsInFlight) {
    ++dropped_;
    return;
  }
  SampleRecord* record = CopySample(sample);
  if (record == nullptr) {
    ++dropped_;
    return;
  }
  if (!Deliver(record)) {
    pool_.Give(record);
  }
}

bool VideoRender::Deliver(SampleRecord* record) {
  VideoCallback* callback = callback_;
  if (callback == nullptr) {
    return false;
  }
  if (plat::GetCurrentThreadId() != owner_thread_) {
    ++in_flight_;
    if (!plat::PostMessage(hwnd_, WM_RENDER_SAMPLE, reinterpret_cast<plat::WPARAM>(record), 0)) {
      --in_flight_;
      ++dropped_;
      return false;
    }
    return true;  // the message holds it until the window gives it back
  }
  callback->OnSample(record);
  return false;
}

plat::LRESULT VideoRender::WindowProc(plat::HWND hwnd, plat::UINT message, plat::WPARAM wparam,
                                      plat::LPARAM lparam) {
  if (message != WM_RENDER_SAMPLE) {
    return plat::DefWindowProc(hwnd, message, wparam, lparam);
  }
  auto* record = reinterpret_cast<SampleRecord*>(wparam);
  auto* self = reinterpret_cast<VideoRender*>(plat::GetWindowLongPtr(hwnd, plat::GWLP_USERDATA));
  // Without the renderer the record stays where it is, in the pool that
  // goes with it.
  if (self != nullptr) {
    VC_DCHECK_RUN_ON(&self->checker_);
    std::lock_guard<std::recursive_mutex> hold(self->lock_);
    --self->in_flight_;
    if (VideoCallback* callback = self->callback_; callback != nullptr && record != nullptr) {
      callback->OnSample(record);
    }
    self->pool_.Give(record);
  }
  return 0;
}
