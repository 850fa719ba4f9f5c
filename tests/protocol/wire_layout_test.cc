// What goes on the wire, byte for byte: the packer's fields in either byte
// order, the HEADER and DATA records, and whole video packets.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocol/cmd_packer.h"
#include "protocol/packet_error.h"
#include "protocol/video_data.h"
#include "protocol/video_header.h"
#include "protocol/video_packet_builder.h"
#include "support/video_packet.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Payload(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i)
    b[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return b;
}

VIDEODATA::FrameInfo Info() {
  return vc_test::TestFrameInfo(1, 176, 144, 0xA1A2A3A4);
}

// Info() as a record carries it, from seq up to the payload's length.
const Bytes kInfo = {0xA4, 0xA3, 0xA2, 0xA1,                     // seq
                     1,                                          // key_frame
                     176,  0,    144,  0,                        // width, height
                     20,   0,                                    // frame_rate
                     0x68, 0xBF, 0,    0,                        // bitrate 49000
                     32,   0,                                    // bit_count
                     0xA4, 0x0B, 0x88, 0x71, 0x8C, 0x01, 0, 0};  // timestamp

using Writer = std::function<void(sox::PackBuffer&)>;

Writer Push(bool swap, std::function<void(sox::Pack&)> push) {
  return [=](sox::PackBuffer& bb) {
    sox::Pack p(bb, 0, swap);
    push(p);
  };
}

Writer Video(const Bytes& payload) {
  return [=](sox::PackBuffer& bb) {
    const std::size_t before = bb.size();
    const auto packet = VIDEODATA::BuildVideoPacket(bb, Info(), payload.data(), payload.size());
    EXPECT_EQ(packet.data(), bb.data() + before);
    EXPECT_EQ(packet.size(), bb.size() - before);
  };
}

struct Layout {
  const char* name;
  std::string before;  // bytes already in the buffer
  Writer write;
  Bytes expected;
  std::uint32_t blocks = 1;  // one allocation of exactly this many 16 KiB blocks
};

TEST(WireLayoutTest, RecordsBecomeExactlyTheseBytes) {
  const auto u32 = [](sox::Pack& p) { p.push_uint32(0x01020304); };
  const auto u64 = [](sox::Pack& p) { p.push_uint64(0x0102030405060708); };
  const auto varstr = [](sox::Pack& p) { p.push_varstr("AB"); };
  const auto replaced = [](sox::Pack& p) {
    p.push_uint32(0).push_uint8(9).replace_uint32(0, 0x0A0B0C0D);
  };
  const auto header = [](sox::Pack& p) {
    VIDEODATA::HEADER h;
    h.length = 0x88;
    h.command = 7;
    h.reserved = 0x5C;
    h.marshal(p);
  };
  const auto data = [](sox::Pack& p) {
    VIDEODATA::DATA d;
    static_cast<VIDEODATA::FrameInfo&>(d) = Info();
    d.payload = std::string("\0\1\xFF", 3);
    d.marshal(p);
  };
  const Bytes video_header = {7, 0, 0, 0, 0};  // command and reserved byte
  const std::vector<Layout> cases = {
      // Plain u8, u16, u32, varstr and replace are in the records below.
      {"u32 swapped", "", Push(true, u32), {1, 2, 3, 4}},
      {"u64 swapped", "", Push(true, u64), {1, 2, 3, 4, 5, 6, 7, 8}},
      {"varstr swapped", "", Push(true, varstr), {0, 2, 'A', 'B'}},
      {"replace_uint32 swapped", "", Push(true, replaced), {0x0A, 0x0B, 0x0C, 0x0D, 9}},
      {"a writer's zeroed reserve",
       "xy",
       [](sox::PackBuffer& bb) { sox::Pack(bb, 3).push_uint16(0x0201); },
       {'x', 'y', 0, 0, 0, 1, 2}},
      {"a key-frame request",
       "",
       [](sox::PackBuffer& bb) { VIDEODATA::BuildKeyFrameRequest(bb); },
       {9, 0, 0, 0, 8, 0, 0, 0, 0}},
      {"HEADER", "", Push(false, header), {0x88, 0, 0, 0, 7, 0, 0, 0, 0x5C}},
      {"DATA", "", Push(false, data), kInfo + Bytes{3, 0, 0, 1, 0xFF}},
      {"a video packet without payload", "", Video({}),
       Bytes{36, 0, 0, 0} + video_header + kInfo + Bytes{0, 0}},
      {"a video packet of 100 bytes", "", Video(Payload(100)),
       Bytes{136, 0, 0, 0} + video_header + kInfo + Bytes{100, 0} + Payload(100)},
      {"a video packet filling a block", "", Video(Payload(16348)),
       Bytes{0, 0x40, 0, 0} + video_header + kInfo + Bytes{0xDC, 0x3F} + Payload(16348)},
      {"a video packet one byte into the next block", "", Video(Payload(16349)),
       Bytes{1, 0x40, 0, 0} + video_header + kInfo + Bytes{0xDD, 0x3F} + Payload(16349), 2},
      {"the longest video packet", "", Video(Payload(65535)),
       Bytes{0x23, 0, 1, 0} + video_header + kInfo + Bytes{0xFF, 0xFF} + Payload(65535), 5},
      {"a video packet counts only its own length", "prefix", Video(Payload(10)),
       Bytes{'p', 'r', 'e', 'f', 'i', 'x', 46, 0, 0, 0} + video_header + kInfo + Bytes{10, 0} +
           Payload(10)},
  };
  for (const Layout& c : cases) {
    SCOPED_TRACE(c.name);
    sox::PackBuffer bb;
    ASSERT_TRUE(bb.append(c.before.data(), c.before.size()));
    c.write(bb);
    EXPECT_TRUE(Bytes(bb.data(), bb.data() + bb.size()) == c.expected);
    EXPECT_EQ(bb.blocks(), c.blocks);
  }
}

}  // namespace
