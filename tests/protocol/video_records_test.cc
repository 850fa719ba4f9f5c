// HEADER, DATA and CMDPacker: the records and their byte order.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "protocol/cmd_packer.h"
#include "protocol/packet_error.h"
#include "protocol/video_data.h"
#include "protocol/video_header.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Contents(const sox::PackBuffer& b) {
  return {b.data(), b.data() + b.size()};
}

VIDEODATA::DATA SampleData() {
  VIDEODATA::DATA d;
  d.seq = 0x01020304;
  d.key_frame = 1;
  d.width = 352;
  d.height = 288;
  d.frame_rate = 15;
  d.bitrate = 100000;
  d.bit_count = 32;
  d.timestamp = 0x0000018C12345678;
  d.payload = std::string("\x00\x01\xFFxyz", 6);
  return d;
}

TEST(VideoRecordsTest, HeaderIsNineLittleEndianBytes) {
  VIDEODATA::HEADER h;
  h.length = 0x88;
  h.command = 7;
  h.reserved = 0x5C;
  sox::PackBuffer bb;
  sox::Pack p(bb);
  h.marshal(p);
  EXPECT_EQ(Contents(bb), (Bytes{0x88, 0, 0, 0, 7, 0, 0, 0, 0x5C}));

  sox::Unpack u(bb.data(), bb.size());
  VIDEODATA::HEADER back;
  back.unmarshal(u);
  EXPECT_EQ(back.length, 0x88u);
  EXPECT_EQ(back.command, 7u);
  EXPECT_EQ(back.reserved, 0x5C);
  EXPECT_TRUE(u.empty());
}

TEST(VideoRecordsTest, DataRoundTripsThroughItsBytes) {
  const VIDEODATA::DATA d = SampleData();
  sox::PackBuffer bb;
  sox::Pack p(bb);
  d.marshal(p);
  ASSERT_EQ(bb.size(), 27u + 6u);

  sox::Unpack u(bb.data(), bb.size());
  VIDEODATA::DATA back;
  back.unmarshal(u);
  EXPECT_EQ(static_cast<const VIDEODATA::FrameInfo&>(back),
            static_cast<const VIDEODATA::FrameInfo&>(d));
  EXPECT_EQ(back.payload, d.payload);
  EXPECT_TRUE(u.empty());
}

TEST(VideoRecordsTest, DataMissingPayloadBytesFailsToUnmarshal) {
  const VIDEODATA::DATA d = SampleData();
  sox::PackBuffer bb;
  sox::Pack p(bb);
  d.marshal(p);
  sox::Unpack u(bb.data(), bb.size() - 1);
  VIDEODATA::DATA back;
  EXPECT_THROW(back.unmarshal(u), sox::UnpackError);
}

TEST(VideoRecordsTest, CmdPackerStartsItsBytesWithTheHeaderAtTheBuffersEnd) {
  sox::PackBuffer bb;
  ASSERT_TRUE(bb.append("..", 2));
  VIDEODATA::HEADER h;
  h.length = 1;
  h.command = 7;
  VIDEODATA::CMDPacker packer(bb, h);
  EXPECT_EQ(packer.offset(), 2u);
  EXPECT_EQ(packer.size(), 9u);
  packer.push_uint8(0xAA);
  EXPECT_EQ(Contents(bb), (Bytes{'.', '.', 1, 0, 0, 0, 7, 0, 0, 0, 0, 0xAA}));
}

TEST(VideoRecordsTest, RecordsKeepTheDefaultTrace) {
  std::ostringstream out;
  const VIDEODATA::HEADER h;
  const VIDEODATA::DATA d;
  const sox::Marshallable& as_base = d;
  EXPECT_EQ(&h.trace(out), &out);
  as_base.trace(out);
  EXPECT_EQ(out.str(),
            "trace Marshallable [ not immplement ]trace Marshallable [ not immplement ]");
}

}  // namespace
