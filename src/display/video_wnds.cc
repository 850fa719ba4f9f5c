#include "display/video_wnds.h"

#include <cstring>
#include <optional>
#include <utility>

#include "display/frame_extent.h"
#include "display/paint_frame.h"
#include "plat/message.h"

namespace kalo::video {

void VideoWnds::AddWindow(plat::HWND hwnd) {
  if (!wnds_.contains(hwnd))
    wnds_.emplace(hwnd, Attributes::Create());
}

void VideoWnds::RemoveWindow(plat::HWND hwnd) {
  wnds_.erase(hwnd);
}

bool VideoWnds::ShowFrame(const VideoFrame& frame) {
  const std::optional<std::int32_t> size = ReadableFrameBytes(frame);
  if (!size)
    return false;

  if (*size > buffer_size_) {
    // The new buffer is filled before the old one goes, so that a failed
    // allocation leaves buffer, size and stored frame as they were.
    AlignedBuffer bigger = MakeAlignedBufferOrThrow(static_cast<std::size_t>(*size));
    std::memcpy(bigger.get(), frame.data, static_cast<std::size_t>(*size));
    buffer_ = std::move(bigger);
    buffer_size_ = *size;
  } else {
    // memmove: the caller may hand back the stored frame itself.
    std::memmove(buffer_.get(), frame.data, static_cast<std::size_t>(*size));
  }
  // Through a copy: `frame` may be frame_ itself.
  VideoFrame stored = frame;
  stored.data = buffer_.get();
  frame_ = stored;
  PaintStored();
  return true;
}

bool VideoWnds::ShowFrame(const VideoFrame& frame, AlignedBuffer& pixels, std::int32_t& capacity) {
  const std::optional<std::int32_t> size = ReadableFrameBytes(frame);
  if (!size || !pixels || frame.data != pixels.get() || *size > capacity)
    return false;
  std::swap(buffer_, pixels);
  std::swap(buffer_size_, capacity);
  frame_ = frame;
  PaintStored();
  return true;
}

void VideoWnds::PaintStored() {
  // Walked by key rather than by iterator, and each window's attributes held
  // while it is painted, so that a window procedure run by the drawing calls
  // may add or remove windows.
  auto it = wnds_.begin();
  while (it != wnds_.end()) {
    const plat::HWND hwnd = it->first;
    const COMM::RefPtr<Attributes> attributes = it->second;
    if (attributes->frame_count == 0) {
      // A dead window refuses the post; it gets it again with the next frame.
      plat::PostMessage(hwnd, WM_FIRST_FRAME, 0, 0);
    }
    if (PaintFrame(hwnd, frame_, scratch_))
      ++attributes->frame_count;
    it = wnds_.upper_bound(hwnd);
  }
}

void VideoWnds::Repaint(plat::HWND hwnd) {
  if (!buffer_)
    return;
  if (hwnd != 0) {
    if (wnds_.contains(hwnd))
      PaintFrame(hwnd, frame_, scratch_);
    return;
  }
  auto it = wnds_.begin();
  while (it != wnds_.end()) {
    const plat::HWND current = it->first;
    PaintFrame(current, frame_, scratch_);
    it = wnds_.upper_bound(current);
  }
}

const VideoWnds::Attributes* VideoWnds::attributes(plat::HWND hwnd) const {
  const auto it = wnds_.find(hwnd);
  return it == wnds_.end() ? nullptr : it->second.get();
}

}  // namespace kalo::video
