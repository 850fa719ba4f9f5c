// Video packets as a sender of this system builds them, for tests that feed
// a receiver.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/frame_info.h"

namespace vc_test {

// The record a small-stream sender fills: 20 frames a second at 49 kbit/s,
// 32-bit pictures, the timestamp and seq derived from `seq`.
VIDEODATA::FrameInfo TestFrameInfo(std::uint8_t key_frame, std::uint16_t width,
                                   std::uint16_t height, std::uint32_t seq = 1);

// One whole packet built with the production BuildVideoPacket.
std::string VideoPacket(const VIDEODATA::FrameInfo& info, std::string_view payload);

// A packet whose payload is `payload` bytes of `tag` (the fake codec paints
// the first payload byte into its picture), the seq `tag` too.
std::string VideoPacket(std::uint8_t key_frame, std::uint16_t width, std::uint16_t height,
                        std::uint8_t tag, std::size_t payload = 24, std::uint16_t bit_count = 32);

}  // namespace vc_test
