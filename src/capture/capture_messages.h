// The private messages of the capture object's hidden window, and the
// ownership of what a frame copy carries through the queue.
#pragma once

#include <cstdint>
#include <memory>

#include "plat/types.h"

// A copy of one frame's pixels for the AVI writer; lParam holds the copy,
// which the message owns until it is handled (or dropped) and then freed.
inline constexpr plat::UINT WM_CAPTURE_FRAME = plat::WM_USER + 10;
// The camera graph has queued events; wParam and lParam are 0.
inline constexpr plat::UINT WM_GRAPH_NOTIFY = plat::WM_USER + 13;

using FrameCopy = std::unique_ptr<std::uint8_t[]>;

// Hands a copy over to a message; the copy must not be touched afterwards.
inline plat::LPARAM FrameCopyToMessage(FrameCopy copy) {
  return reinterpret_cast<plat::LPARAM>(copy.release());
}

// Takes the copy back from a WM_CAPTURE_FRAME's lParam (null for 0).
inline FrameCopy FrameCopyFromMessage(plat::LPARAM lparam) {
  return FrameCopy(reinterpret_cast<std::uint8_t*>(lparam));
}
