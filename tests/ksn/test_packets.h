// Numbered packets of varied sizes (1 to 65 KB) that a receiver can check
// byte for byte: u32 length, u32 index, the MPEG-4 start codes a video
// packet holds (so that a listener can look for them), then bytes made from
// the index.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace ksn_test {

// A visual object sequence and a picture, as an MPEG-4 encoder starts them.
inline constexpr char kStartCodes[] = "\x00\x00\x01\xB0\x00\x00\x01\xB6";

inline std::uint32_t PacketSize(std::uint32_t index) {
  return 1024 + (index * 7919u) % (65u * 1024 - 1024 + 1);
}

inline std::string MakePacket(std::uint32_t index) {
  const std::uint32_t size = PacketSize(index);
  std::string packet(size, '\0');
  std::memcpy(packet.data(), &size, 4);
  std::memcpy(packet.data() + 4, &index, 4);
  for (std::uint32_t i = 8; i < size; ++i)
    packet[i] = static_cast<char>((index * 31 + i) & 0xff);
  packet.replace(8, 8, kStartCodes, 8);
  return packet;
}

// Takes whole packets off the front of `stream`, counting them in *whole;
// false at the first one that is not the expected next one (or, with gaps
// allowed, one that does not come later).
inline bool TakePackets(std::string* stream, std::uint32_t* next, bool gaps_allowed,
                        std::uint32_t* whole) {
  while (stream->size() >= 8) {
    std::uint32_t size, index;
    std::memcpy(&size, stream->data(), 4);
    std::memcpy(&index, stream->data() + 4, 4);
    if ((gaps_allowed ? index < *next : index != *next) || size != PacketSize(index))
      return false;
    if (stream->size() < size)
      return true;
    if (stream->compare(0, size, MakePacket(index)) != 0)
      return false;
    stream->erase(0, size);
    *next = index + 1;
    ++*whole;
  }
  return true;
}

}  // namespace ksn_test
