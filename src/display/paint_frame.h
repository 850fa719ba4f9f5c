// Painting one frame into one host window.
#pragma once

#include <cstddef>

#include "common/aligned_buffer.h"
#include "common/video_frame.h"
#include "plat/types.h"

namespace kalo::video {

// The scaled picture of one paint, kept for the next while big enough: a
// fresh picture per window and frame costs page faults on every paint.
struct PaintScratch {
  AlignedBuffer pixels;
  std::size_t size = 0;
};

// Scales the frame (32-bit pixels, rows bottom-up) by nearest neighbour to the
// window's whole client area and draws it there, rows bottom-up, no borders,
// no aspect correction. A client area with no pixels paints nothing and still
// counts as painted.
//
// True when it painted; false when the handle is null or not a window, or the
// frame cannot be read within its stride x height bytes (ReadableFrameBytes).
// Throws std::bad_alloc when the picture for the client area cannot be had.
bool PaintFrame(plat::HWND hwnd, const VideoFrame& frame, PaintScratch& scratch);
// The same with a picture of its own for this one paint.
bool PaintFrame(plat::HWND hwnd, const VideoFrame& frame);

}  // namespace kalo::video
