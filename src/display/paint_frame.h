// Painting one frame into one host window.
#pragma once

#include "common/video_frame.h"
#include "plat/types.h"

namespace kalo::video {

// Scales the frame (32-bit pixels, rows bottom-up) by nearest neighbour to the
// window's whole client area and draws it there, rows bottom-up, no borders,
// no aspect correction. A client area with no pixels paints nothing and still
// counts as painted.
//
// True when it painted; false when the handle is null or not a window, or the
// frame cannot be read within its stride x height bytes (ReadableFrameBytes).
// Throws std::bad_alloc when the picture for the client area cannot be had.
bool PaintFrame(plat::HWND hwnd, const VideoFrame& frame);

}  // namespace kalo::video
