// Feeds arbitrary byte streams, cut into arbitrary deliveries, to the packet
// reader the way a conference session drives it, and checks the reading
// against an independent walk over the whole stream.
//
// Input: two bytes that choose how the stream is cut, then the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sanitizer/asan_interface.h>

#include "protocol/video_packet_builder.h"
#include "protocol/video_packet_limits.h"
#include "protocol/video_packet_reader.h"

namespace {

using VIDEODATA::FrontState;
using VIDEODATA::PacketKind;

#define CHECK(cond)                                                      \
  do {                                                                   \
    if (!(cond)) {                                                       \
      __builtin_printf("check failed: %s (line %d)\n", #cond, __LINE__); \
      std::abort();                                                      \
    }                                                                    \
  } while (0)

struct Packet {
  PacketKind kind;
  std::uint32_t length;
  std::uint32_t seq;
  std::uint32_t payload_offset;  // from the packet's first byte
  std::uint32_t payload_length;
  bool operator==(const Packet&) const = default;
};

struct Outcome {
  std::vector<Packet> packets;
  std::size_t consumed = 0;
  bool bad = false;
};

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// The expected reading, straight from the wire layout.
Outcome Walk(const std::uint8_t* stream, std::size_t size) {
  Outcome out;
  std::size_t at = 0;
  while (size - at >= 9) {
    const std::uint8_t* p = stream + at;
    const std::uint32_t length = Le32(p);
    const std::uint32_t command = Le32(p + 4);
    const bool video = command == 7;
    if (length < 9 || length > (1u << 20) || (video && (length < 36 || length > 65571))) {
      out.bad = true;
      break;
    }
    if (size - at < length)
      break;
    Packet packet{command == 8 ? PacketKind::kKeyFrameRequest : PacketKind::kSkipped, length, 0, 0,
                  0};
    if (video) {
      const std::uint16_t width = Le16(p + 14);
      const std::uint16_t height = Le16(p + 16);
      const std::uint16_t payload_length = Le16(p + 34);
      if (36u + payload_length > length) {
        out.bad = true;
        break;
      }
      packet = {width == 0 || height == 0 ? PacketKind::kDropped : PacketKind::kVideo, length,
                Le32(p + 9), 36, payload_length};
    }
    out.packets.push_back(packet);
    at += length;
  }
  out.consumed = at;
  return out;
}

// The packet alone in exactly its own bytes of heap, so that a read past its
// length is caught.
std::vector<std::uint8_t> Exact(const std::string& from, std::size_t n) {
  return std::vector<std::uint8_t>(from.begin(), from.begin() + static_cast<std::ptrdiff_t>(n));
}

// Marks the receive buffer's spare capacity unreadable while the reader looks
// at it, so that a read past the buffered bytes is caught without copying them.
class SpareCapacityPoison {
 public:
  explicit SpareCapacityPoison(const std::string& s)
      : spare_(s.data() + s.size()), size_(s.capacity() - s.size()) {
    ASAN_POISON_MEMORY_REGION(spare_, size_);
  }
  ~SpareCapacityPoison() { ASAN_UNPOISON_MEMORY_REGION(spare_, size_); }

 private:
  const char* spare_;
  std::size_t size_;
};

// Rebuilding a record from what was read gives back its bytes.
void CheckRebuilds(const std::vector<std::uint8_t>& packet, const VIDEODATA::VideoRecord& video) {
  sox::PackBuffer bb;
  const auto rebuilt =
      VIDEODATA::BuildVideoPacket(bb, video.info, video.payload, video.payload_length);
  CHECK(rebuilt.size() == 36u + video.payload_length);
  CHECK(std::memcmp(rebuilt.data() + 4, packet.data() + 4, 4) == 0);
  CHECK(std::memcmp(rebuilt.data() + 9, packet.data() + 9, rebuilt.size() - 9) == 0);
}

// Takes whole packets off the front of the receive buffer, as the session does.
void Drain(std::string& buffer, Outcome& out) {
  while (!out.bad) {
    VIDEODATA::PacketFront front;
    VIDEODATA::PacketReading again;
    {
      const SpareCapacityPoison poison(buffer);
      front = VIDEODATA::FindWholePacket(buffer.data(), buffer.size());
      if (front.state == FrontState::kWhole) {
        again = VIDEODATA::ReadWholePacket(buffer.data(), buffer.size());
      }
    }
    if (front.state == FrontState::kIncomplete) {
      CHECK(buffer.size() < 9 || buffer.size() < front.length);
      return;
    }
    if (front.state == FrontState::kBad) {
      out.bad = true;
      return;
    }
    CHECK(front.length >= 9 && front.length <= buffer.size());
    CHECK(front.length <= VIDEODATA::kMaxPacketLength);

    const std::vector<std::uint8_t> packet = Exact(buffer, front.length);
    const auto r = VIDEODATA::ReadWholePacket(packet.data(), packet.size());
    // Reading from the whole buffer sees the same packet.
    CHECK(again.kind == r.kind && again.length == r.length);
    if (r.kind == PacketKind::kBad) {
      CHECK(r.error != nullptr && r.length == 0);
      out.bad = true;
      return;
    }
    CHECK(r.length == front.length);
    Packet got{r.kind, r.length, 0, 0, 0};
    if (r.kind == PacketKind::kVideo || r.kind == PacketKind::kDropped) {
      const VIDEODATA::VideoRecord& v = r.video;
      CHECK(r.command == 7);
      CHECK(v.payload >= packet.data() + 36);
      CHECK(v.payload + v.payload_length <= packet.data() + packet.size());
      CHECK((r.kind == PacketKind::kDropped) == (v.info.width == 0 || v.info.height == 0));
      const VideoFrame frame = v.frame();
      CHECK(frame.data == v.payload);
      CHECK(frame.stride == (v.info.bit_count / 8) * v.info.width);
      CheckRebuilds(packet, v);
      got = {r.kind, r.length, v.info.seq, static_cast<std::uint32_t>(v.payload - packet.data()),
             v.payload_length};
    } else {
      CHECK(r.command != 7);
      CHECK((r.kind == PacketKind::kKeyFrameRequest) == (r.command == 8));
    }
    out.packets.push_back(got);
    out.consumed += r.length;
    buffer.erase(0, r.length);
  }
}

// Delivers the stream in pieces whose sizes follow from `seed`.
Outcome Receive(const std::uint8_t* stream, std::size_t size, std::uint16_t seed) {
  static constexpr std::size_t kLargest[] = {1, 2, 9, 37, 136, 1000, 32000, SIZE_MAX};
  const std::size_t largest = kLargest[seed % 8];
  std::uint32_t state = seed * 2654435761u + 1;
  Outcome out;
  std::string buffer;
  std::size_t at = 0;
  while (at < size && !out.bad) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const std::size_t piece = largest == SIZE_MAX ? size - at : 1 + state % largest;
    const std::size_t n = piece < size - at ? piece : size - at;
    buffer.append(reinterpret_cast<const char*>(stream + at), n);
    at += n;
    Drain(buffer, out);
  }
  if (!out.bad)
    CHECK(buffer.size() == size - out.consumed);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2)
    return 0;
  const auto seed = static_cast<std::uint16_t>(data[0] | data[1] << 8);
  const std::uint8_t* stream = data + 2;
  const std::size_t length = size - 2;

  const Outcome expected = Walk(stream, length);
  const Outcome cut = Receive(stream, length, seed);
  CHECK(cut.bad == expected.bad);
  CHECK(cut.packets == expected.packets);
  CHECK(cut.consumed == expected.consumed);
  std::size_t sum = 0;
  for (const Packet& p : cut.packets)
    sum += p.length;
  CHECK(sum == cut.consumed);
  CHECK(cut.consumed <= length);
  return 0;
}
