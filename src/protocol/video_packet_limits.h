// Sizes and commands of the video packet on the wire.
#pragma once

#include <cstdint>

namespace VIDEODATA {

// The command header: length (u32), command (u32), reserved (u8).
inline constexpr std::uint32_t kHeaderSize = 9;
// One video record follows the header.
inline constexpr std::uint32_t kVideoCommand = 7;
// A receiver without a clean picture asks its sender for a key frame: the
// header alone. Peers that know only video skip it by its length.
inline constexpr std::uint32_t kKeyFrameRequestCommand = 8;
// Header plus every fixed field of the video record and its payload length.
inline constexpr std::uint32_t kVideoFixedSize = 36;
// The payload's length travels as a u16.
inline constexpr std::uint32_t kMaxVideoPayload = 65535;
inline constexpr std::uint32_t kMaxVideoPacket = kVideoFixedSize + kMaxVideoPayload;  // 65571
// No packet of another command is waited for beyond this: a receiver buffers
// at most this much for one packet, whatever a peer's header claims.
inline constexpr std::uint32_t kMaxPacketLength = 1u << 20;
// Every picture this system sends has 32-bit pixels.
inline constexpr std::uint16_t kBitCount = 32;

}  // namespace VIDEODATA
