// Finding whole packets at the front of a receive buffer and reading them in
// place; the session's tests feed it whole streams.
#include "protocol/video_packet_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/video_packet.h"

namespace {

using VIDEODATA::FindWholePacket;
using VIDEODATA::FrontState;
using VIDEODATA::PacketKind;
using VIDEODATA::ReadWholePacket;

VIDEODATA::FrameInfo Info(std::uint32_t seq, std::uint8_t key = 0, std::uint16_t width = 176,
                          std::uint16_t height = 144) {
  return vc_test::TestFrameInfo(key, width, height, seq);
}

using vc_test::VideoPacket;

void PutLe32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i)
    s[at + i] = static_cast<char>(v >> (8 * i));
}

// A header with any length and command, followed by `body`.
std::string RawPacket(std::uint32_t length, std::uint32_t command, const std::string& body) {
  std::string s(9, '\0');
  PutLe32(s, 0, length);
  PutLe32(s, 4, command);
  return s + body;
}

// What the front of a receive buffer holds, and what reading it gives.
struct ReadCase {
  const char* name;
  std::string bytes;
  FrontState state;
  std::uint32_t front_length;
  PacketKind kind = PacketKind::kBad;
  std::uint32_t length = 0;  // taken off the stream
  int payload_length = -1;   // when it matters
};

TEST(VideoPacketReaderTest, FindsAndReadsWholePacketsAndRefusesImpossibleOnes) {
  const std::string video = VideoPacket(Info(1), std::string(100, 'a'));
  std::string runs_past = VideoPacket(Info(1), std::string(10, 'a'));
  PutLe32(runs_past, 0, 40);  // the record's 46 bytes take 6 of the next packet's
  std::string with_tail = VideoPacket(Info(1), "abcd") + "tail";
  PutLe32(with_tail, 0, 44);
  using enum FrontState;
  using K = PacketKind;
  const std::vector<ReadCase> cases = {
      {"nothing", "", kIncomplete, 0},
      {"eight bytes", video.substr(0, 8), kIncomplete, 0},
      {"a header alone", video.substr(0, 9), kIncomplete, 136},
      {"one byte short", video.substr(0, 135), kIncomplete, 136},
      {"whole", video, kWhole, 136, K::kVideo, 136, 100},
      {"whole with more behind", video + video.substr(0, 20), kWhole, 136, K::kVideo, 136},
      {"an empty payload", VideoPacket(Info(3), ""), kWhole, 36, K::kVideo, 36, 0},
      {"no width", VideoPacket(Info(5, 1, 0, 144), "abc"), kWhole, 39, K::kDropped, 39},
      {"no height", VideoPacket(Info(5, 1, 176, 0), "abc"), kWhole, 39, K::kDropped, 39},
      {"another command", RawPacket(20, 5, std::string(11, 'q')), kWhole, 20, K::kSkipped, 20},
      {"a bare header", RawPacket(9, 5, ""), kWhole, 9, K::kSkipped, 9},
      {"bytes after the record inside its packet", with_tail, kWhole, 44, K::kVideo, 44, 4},
      {"a record running past its packet", runs_past + video, kWhole, 40},
      {"length 0", RawPacket(0, 7, std::string(40, 'x')), kBad, 0},
      {"length 8", RawPacket(8, 5, ""), kBad, 8},
      {"video shorter than its fixed part", RawPacket(35, 7, std::string(40, 'x')), kBad, 35},
      {"the longest video packet", RawPacket(65571, 7, ""), kIncomplete, 65571},
      {"a video packet too long", RawPacket(65572, 7, ""), kBad, 65572},
      {"another command, long", RawPacket(1u << 20, 5, ""), kIncomplete, 1u << 20},
      {"another command, too long", RawPacket((1u << 20) + 1, 5, ""), kBad, (1u << 20) + 1},
      {"the largest length", RawPacket(0xFFFFFFFF, 5, ""), kBad, 0xFFFFFFFF},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto front = FindWholePacket(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(front.state, c.state);
    EXPECT_EQ(front.length, c.front_length);
    const auto r = ReadWholePacket(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(r.kind, c.kind);
    EXPECT_EQ(r.length, c.length);
    EXPECT_EQ(r.error != nullptr, c.kind == PacketKind::kBad);
    if (c.payload_length >= 0) {
      EXPECT_EQ(r.video.payload_length, static_cast<std::uint32_t>(c.payload_length));
    }
  }
  EXPECT_EQ(FindWholePacket(nullptr, 100).state, kIncomplete);
}

TEST(VideoPacketReaderTest, ReadsAVideoRecordInPlace) {
  const std::string payload = std::string(100, 'a');
  std::string packet = VideoPacket(Info(42, 1), payload);
  packet[8] = '\x7F';  // the reserved byte means nothing to a reader
  const auto r = ReadWholePacket(packet.data(), packet.size());
  ASSERT_EQ(r.kind, PacketKind::kVideo);
  EXPECT_EQ(r.length, 136u);
  EXPECT_EQ(r.command, 7u);
  EXPECT_EQ(r.video.info, Info(42, 1));
  EXPECT_EQ(reinterpret_cast<const char*>(r.video.payload), packet.data() + 36);
  EXPECT_EQ(r.video.payload_length, 100u);

  const VideoFrame frame = r.video.frame();
  EXPECT_EQ(reinterpret_cast<const char*>(frame.data), packet.data() + 36);
  EXPECT_EQ(frame.stride, 4 * 176);
  EXPECT_EQ(frame.width, 176);
  EXPECT_EQ(frame.height, 144);
  EXPECT_EQ(frame.timestamp, 1700000000042);

  VIDEODATA::FrameInfo twelve = Info(1);
  twelve.bit_count = 12;  // whole bytes per pixel only: 1
  const std::string packed = VideoPacket(twelve, "x");
  EXPECT_EQ(ReadWholePacket(packed.data(), packed.size()).video.frame().stride, 176);
}

}  // namespace
