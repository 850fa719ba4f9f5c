#include "protocol/video_packet_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/packet_error.h"
#include "protocol/video_packet_limits.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

VIDEODATA::FrameInfo Info() {
  VIDEODATA::FrameInfo info;
  info.seq = 0xA1A2A3A4;
  info.key_frame = 1;
  info.width = 176;
  info.height = 144;
  info.frame_rate = 20;
  info.bitrate = 49000;
  info.bit_count = VIDEODATA::kBitCount;
  info.timestamp = 0x1122334455667788;
  return info;
}

Bytes Payload(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i)
    b[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return b;
}

// The fixed part of the packet for Info() and a payload of L bytes, written
// out byte by byte from the wire layout.
Bytes FixedPart(std::uint32_t packet_length, std::uint16_t payload_length) {
  const auto le32 = [](std::uint32_t v) {
    return Bytes{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                 static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  };
  Bytes b;
  const auto put = [&b](const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); };
  put(le32(packet_length));                               // 0 length
  put({7, 0, 0, 0});                                      // 4 command
  put({0});                                               // 8 reserved
  put({0xA4, 0xA3, 0xA2, 0xA1});                          // 9 seq
  put({1});                                               // 13 key_frame
  put({176, 0});                                          // 14 width
  put({144, 0});                                          // 16 height
  put({20, 0});                                           // 18 frame_rate
  put({0x68, 0xBF, 0, 0});                                // 20 bitrate 49000
  put({32, 0});                                           // 24 bit_count
  put({0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11});  // 26 timestamp
  put({static_cast<std::uint8_t>(payload_length),         // 34 payload length
       static_cast<std::uint8_t>(payload_length >> 8)});
  return b;
}

struct LayoutCase {
  std::size_t payload;
  std::uint32_t packet;
  std::uint32_t blocks;  // one allocation of exactly this many 16 KiB blocks
};

TEST(VideoPacketBuilderTest, LaysOutHeaderRecordAndPayloadByteForByte) {
  const std::vector<LayoutCase> cases = {
      {0, 36, 1},        {1, 37, 1},        {100, 136, 1},
      {16348, 16384, 1}, {16349, 16385, 2}, {65535, 65571, 5},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.payload);
    const Bytes payload = Payload(c.payload);
    sox::PackBuffer bb;
    const auto packet = VIDEODATA::BuildVideoPacket(bb, Info(), payload.data(), payload.size());
    ASSERT_EQ(packet.size(), c.packet);
    EXPECT_EQ(packet.data(), bb.data());
    EXPECT_EQ(bb.blocks(), c.blocks);

    Bytes expected = FixedPart(c.packet, static_cast<std::uint16_t>(c.payload));
    expected.insert(expected.end(), payload.begin(), payload.end());
    EXPECT_TRUE(Bytes(packet.begin(), packet.end()) == expected);
  }
}

TEST(VideoPacketBuilderTest, AHundredBytePayloadMakesThe136BytePacket) {
  const Bytes payload = Payload(100);
  sox::PackBuffer bb;
  const auto packet = VIDEODATA::BuildVideoPacket(bb, Info(), payload.data(), payload.size());
  ASSERT_EQ(packet.size(), 136u);
  EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 8), (Bytes{0x88, 0, 0, 0, 7, 0, 0, 0}));
}

TEST(VideoPacketBuilderTest, APayloadOf65536BytesCannotBePacked) {
  const Bytes payload = Payload(65536);
  sox::PackBuffer bb;
  try {
    VIDEODATA::BuildVideoPacket(bb, Info(), payload.data(), payload.size());
    ADD_FAILURE() << "no exception";
  } catch (const sox::PackError& e) {
    EXPECT_STREQ(e.what(), "push_varstr: varstr too big");
  }
}

TEST(VideoPacketBuilderTest, APacketAfterOtherBytesCountsOnlyItsOwnLength) {
  sox::PackBuffer bb;
  ASSERT_TRUE(bb.append("prefix", 6));
  const Bytes payload = Payload(10);
  const auto packet = VIDEODATA::BuildVideoPacket(bb, Info(), payload.data(), payload.size());
  EXPECT_EQ(packet.data(), bb.data() + 6);
  EXPECT_EQ(packet.size(), 46u);
  EXPECT_EQ(Bytes(bb.data(), bb.data() + 6), (Bytes{'p', 'r', 'e', 'f', 'i', 'x'}));
  EXPECT_EQ(packet[0], 46);
}

}  // namespace
