// Building the video packet that carries one encoded frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "protocol/block_buffer.h"
#include "protocol/frame_info.h"

namespace VIDEODATA {

// Writes one video packet (header, record, payload) at the end of `buffer`,
// which the encode path makes fresh for every frame, and returns the packet's
// bytes inside the buffer: they stay valid while the buffer lives unchanged.
// The storage is sized once, so a packet costs one allocation.
// Throws sox::PackError: "push_varstr: varstr too big" for a payload of 65536
// bytes or more, "append buffer overflow" when the buffer cannot grow.
std::span<const std::uint8_t> BuildVideoPacket(sox::PackBuffer& buffer, const FrameInfo& info,
                                               const void* payload, std::size_t payload_length);

// Writes the key-frame request (a 9-byte header, command 8, nothing after it)
// at the end of `buffer` and returns its bytes. Throws sox::PackError when
// the buffer cannot grow.
std::span<const std::uint8_t> BuildKeyFrameRequest(sox::PackBuffer& buffer);

}  // namespace VIDEODATA
