// Cutting video packets out of a received byte stream.
//
// The receiver appends what arrives to its receive buffer and then, while
// FindWholePacket reports a whole packet at the front, reads it with
// ReadWholePacket and removes its `length` bytes from the front:
//
//   for (;;) {
//     PacketFront front = FindWholePacket(buf.data(), buf.size());
//     if (front.state == FrontState::kIncomplete) break;      // wait for more
//     if (front.state == FrontState::kBad) { /* close */ break; }
//     PacketReading r = ReadWholePacket(buf.data(), buf.size());
//     if (r.kind == PacketKind::kBad) { /* close */ break; }
//     if (r.kind == PacketKind::kVideo) { /* key-frame gate, decode r.video */ }
//     buf.erase(0, r.length);
//   }
//
// Neither function throws, allocates or reads outside the bytes it is given.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/video_frame.h"
#include "protocol/frame_info.h"

namespace VIDEODATA {

enum class FrontState {
  kIncomplete,  // fewer than 9 bytes, or fewer than the header's length: wait
  kWhole,       // a whole packet of `length` bytes is at the front
  kBad,         // the header's length can never be a packet: the stream is lost
};

struct PacketFront {
  FrontState state = FrontState::kIncomplete;
  std::uint32_t length = 0;   // the header's length; 0 while fewer than 9 bytes
  std::uint32_t command = 0;  // the header's command; 0 while fewer than 9 bytes
};

// Looks at the header at the front of the buffered bytes, consuming nothing.
// A length is bad when it is below 9, when a video packet (command 7) is
// shorter than its fixed 36 bytes or longer than 65571, or when any packet
// is longer than kMaxPacketLength: such a header fails at once instead of
// making the receiver wait for bytes that a sender of this system never sends.
PacketFront FindWholePacket(const void* bytes, std::size_t size) noexcept;

enum class PacketKind {
  kSkipped,          // a command this reader does not know: nothing to do
  kKeyFrameRequest,  // command 8: the partner wants a key frame
  kDropped,          // a video record whose width or height is 0: not shown
  kVideo,            // a video record to offer to display
  kBad,              // not a packet: the session stops parsing and closes
};

// A video record read in place: the payload points into the packet.
struct VideoRecord {
  FrameInfo info;
  const std::uint8_t* payload = nullptr;
  std::uint32_t payload_length = 0;

  // The picture description display and decoding take: pixels = the payload,
  // stride = (bit_count / 8) x width, the record's width, height and timestamp.
  // Nobody writes through its pixel pointer.
  VideoFrame frame() const noexcept;
};

struct PacketReading {
  PacketKind kind = PacketKind::kBad;
  std::uint32_t length = 0;     // bytes to remove from the front; 0 when kBad
  std::uint32_t command = 0;    // the header's command
  VideoRecord video;            // filled for kVideo and kDropped
  const char* error = nullptr;  // kBad: a static text saying why
};

// Reads the whole packet at the front of the buffered bytes (the front that
// FindWholePacket called whole). The record is read only from the packet's
// own `length` bytes: a record that runs past them makes the packet bad
// rather than taking bytes of the next packet. Bytes after the record within
// `length` are ignored. Anything but a whole packet at the front is kBad.
// Every command other than 7 is skipped by its length; 8 is also named.
PacketReading ReadWholePacket(const void* bytes, std::size_t size) noexcept;

}  // namespace VIDEODATA
