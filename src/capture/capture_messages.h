// The private messages of the capture object's hidden window, and the
// ownership of what a frame copy carries through the queue.
#pragma once

#include <cstdint>
#include <memory>

#include "common/aligned_buffer.h"
#include "plat/types.h"

// A copy of one frame's pixels for the AVI writer; lParam holds the copy,
// which the message owns until it is handled (or dropped) and then freed.
inline constexpr plat::UINT WM_CAPTURE_FRAME = plat::WM_USER + 10;
// The camera graph has queued events; wParam and lParam are 0.
inline constexpr plat::UINT WM_GRAPH_NOTIFY = plat::WM_USER + 13;

// The copy keeps the size its pixels have: the writer is told the truth even
// when the capture size changed meanwhile.
struct FrameCopyData {
  std::int32_t width = 0;
  std::int32_t height = 0;
  // Slots of the recording the camera skipped just before this frame's: the
  // frame written before fills them.
  std::int32_t repeat_last = 0;
  AlignedBuffer pixels;  // height x 4 * width bytes, bottom-up
};
using FrameCopy = std::unique_ptr<FrameCopyData>;

// Hands a copy over to a message; the copy must not be touched afterwards.
inline plat::LPARAM FrameCopyToMessage(FrameCopy copy) {
  return reinterpret_cast<plat::LPARAM>(copy.release());
}

// Takes the copy back from a WM_CAPTURE_FRAME's lParam (null for 0).
inline FrameCopy FrameCopyFromMessage(plat::LPARAM lparam) {
  return FrameCopy(reinterpret_cast<FrameCopyData*>(lparam));
}
