// The set of host windows that show one video stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>

#include "common/aligned_buffer.h"
#include "common/ref_count.h"
#include "common/ref_ptr.h"
#include "common/video_frame.h"
#include "display/first_frame_message.h"
#include "display/paint_frame.h"
#include "plat/types.h"

namespace kalo::video {

// Keeps a copy of the latest frame and paints every frame into each window
// of the set, scaled to the window's client area. The windows stay the
// host's: the set never creates, changes or destroys them. Not thread-safe;
// one thread at a time.
class VideoWnds {
 public:
  // What the set knows about one window.
  struct Attributes : COMM::SimpleRefCount {
    // Frames successfully painted into the window since it was added.
    std::uint64_t frame_count = 0;

    static COMM::RefPtr<Attributes> Create() {
      return COMM::RefPtr<Attributes>(new Attributes, COMM::adopt_ref);
    }

   private:
    Attributes() = default;
    ~Attributes() override = default;
  };

  VideoWnds() = default;
  VideoWnds(const VideoWnds&) = delete;
  VideoWnds& operator=(const VideoWnds&) = delete;

  // Registers the window with a fresh count; a registered window keeps its own.
  void AddWindow(plat::HWND hwnd);
  // Forgets the window; an unknown handle changes nothing.
  void RemoveWindow(plat::HWND hwnd);

  // Stores a copy of the frame and paints it into every window in ascending
  // handle order, posting WM_FIRST_FRAME first to each window not yet painted.
  // A frame that cannot be read within its stride x height bytes
  // (ReadableFrameBytes) is dropped untouched: false, and the stored frame,
  // the buffer, the counts and the windows stay as they were.
  // Throws std::bad_alloc when the copy or a window's picture cannot be
  // allocated; the set stays consistent (the stored frame is the previous one
  // when the copy failed).
  bool ShowFrame(const VideoFrame& frame);

  // The same without the copy, for a producer that wrote the frame into a
  // buffer of its own (frame.data == pixels.get(), `capacity` bytes): the set
  // keeps that buffer as the stored frame's and hands its previous buffer
  // (and that one's capacity) back in `pixels` and `capacity`, so each frame
  // costs one pass, the paint. The previous buffer may be empty or smaller.
  // A frame it cannot read, or one outside `pixels`, is refused as above:
  // false, and nothing changes on either side.
  bool ShowFrame(const VideoFrame& frame, AlignedBuffer& pixels, std::int32_t& capacity);

  // Paints the stored frame again into the window, or into every window when
  // hwnd is 0. No notice, no count changes; nothing before the first frame or
  // for a handle that is not registered.
  void Repaint(plat::HWND hwnd);

  // The registered window's attributes, null when it is not registered.
  const Attributes* attributes(plat::HWND hwnd) const;
  std::size_t window_count() const { return wnds_.size(); }
  // The latest frame shown; its pixels point into the set's own buffer.
  const VideoFrame& frame() const { return frame_; }
  // Bytes the buffer holds; it only grows while frames come by copy.
  std::int32_t buffer_size() const { return buffer_size_; }

 private:
  // Paints the stored frame into every window, counting and noticing.
  void PaintStored();

  // Ascending handle order: HWND is an unsigned 32-bit number.
  std::map<plat::HWND, COMM::RefPtr<Attributes>> wnds_;
  VideoFrame frame_;
  std::int32_t buffer_size_ = 0;
  AlignedBuffer buffer_;
  PaintScratch scratch_;  // the painter's picture, shared by the set's windows
};

}  // namespace kalo::video
