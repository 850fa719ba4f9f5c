#include "protocol/video_packet_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/video_packet_builder.h"
#include "protocol/video_packet_limits.h"

namespace {

using VIDEODATA::FindWholePacket;
using VIDEODATA::FrontState;
using VIDEODATA::PacketKind;
using VIDEODATA::ReadWholePacket;

VIDEODATA::FrameInfo Info(std::uint32_t seq, std::uint8_t key = 0, std::uint16_t width = 176,
                          std::uint16_t height = 144) {
  VIDEODATA::FrameInfo info;
  info.seq = seq;
  info.key_frame = key;
  info.width = width;
  info.height = height;
  info.frame_rate = 20;
  info.bitrate = 49000;
  info.bit_count = 32;
  info.timestamp = 1700000000000 + seq;
  return info;
}

std::string Payload(std::size_t n, char seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>(seed + i);
  return s;
}

std::string VideoPacket(const VIDEODATA::FrameInfo& info, const std::string& payload) {
  sox::PackBuffer bb;
  const auto bytes = VIDEODATA::BuildVideoPacket(bb, info, payload.data(), payload.size());
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

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

// What a receiver does with what it has read.
struct Event {
  PacketKind kind;
  std::uint32_t length;
  std::uint32_t seq;
  std::string payload;
  friend bool operator==(const Event&, const Event&) = default;
};

// Takes whole packets off the front of the receive buffer the way the session
// does; false once the stream is bad (the bytes then stay).
bool Drain(std::string& buffer, std::vector<Event>& events) {
  for (;;) {
    const auto front = FindWholePacket(buffer.data(), buffer.size());
    if (front.state == FrontState::kIncomplete)
      return true;
    if (front.state == FrontState::kBad)
      return false;
    const auto r = ReadWholePacket(buffer.data(), buffer.size());
    if (r.kind == PacketKind::kBad)
      return false;
    EXPECT_EQ(r.length, front.length);
    Event e{r.kind, r.length, 0, ""};
    if (r.kind == PacketKind::kVideo || r.kind == PacketKind::kDropped) {
      e.seq = r.video.info.seq;
      e.payload.assign(reinterpret_cast<const char*>(r.video.payload), r.video.payload_length);
    }
    events.push_back(e);
    buffer.erase(0, r.length);
  }
}

Event Video(std::uint32_t seq, const std::string& payload) {
  return {PacketKind::kVideo, static_cast<std::uint32_t>(36 + payload.size()), seq, payload};
}

struct FrontCase {
  const char* name;
  std::string bytes;
  FrontState state;
  std::uint32_t length;
};

TEST(VideoPacketReaderTest, FindsWholePacketsAndRejectsImpossibleLengths) {
  const std::string video = VideoPacket(Info(1), Payload(100, 'a'));
  const std::vector<FrontCase> cases = {
      {"nothing", "", FrontState::kIncomplete, 0},
      {"eight bytes", video.substr(0, 8), FrontState::kIncomplete, 0},
      {"a header alone", video.substr(0, 9), FrontState::kIncomplete, 136},
      {"one byte short", video.substr(0, 135), FrontState::kIncomplete, 136},
      {"whole", video, FrontState::kWhole, 136},
      {"whole with more behind", video + video.substr(0, 20), FrontState::kWhole, 136},
      {"length 0", RawPacket(0, 7, ""), FrontState::kBad, 0},
      {"length 8", RawPacket(8, 5, ""), FrontState::kBad, 8},
      {"a bare header", RawPacket(9, 5, ""), FrontState::kWhole, 9},
      {"video shorter than its fixed part", RawPacket(35, 7, std::string(40, 'x')),
       FrontState::kBad, 35},
      {"video of the fixed part", RawPacket(36, 7, std::string(27, 'x')), FrontState::kWhole, 36},
      {"the longest video packet", RawPacket(65571, 7, ""), FrontState::kIncomplete, 65571},
      {"a video packet too long", RawPacket(65572, 7, ""), FrontState::kBad, 65572},
      {"another command, long", RawPacket(1u << 20, 5, ""), FrontState::kIncomplete, 1u << 20},
      {"another command, too long", RawPacket((1u << 20) + 1, 5, ""), FrontState::kBad,
       (1u << 20) + 1},
      {"the largest length", RawPacket(0xFFFFFFFF, 5, ""), FrontState::kBad, 0xFFFFFFFF},
  };
  for (const FrontCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto front = FindWholePacket(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(front.state, c.state);
    EXPECT_EQ(front.length, c.length);
  }
  EXPECT_EQ(FindWholePacket(nullptr, 100).state, FrontState::kIncomplete);
}

TEST(VideoPacketReaderTest, ReadsAVideoRecordInPlace) {
  const std::string payload = Payload(100, 'a');
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
}

TEST(VideoPacketReaderTest, FrameStrideFollowsBitCount) {
  VIDEODATA::FrameInfo info = Info(1);
  info.bit_count = 12;  // whole bytes per pixel only: 1
  const std::string packet = VideoPacket(info, "x");
  EXPECT_EQ(ReadWholePacket(packet.data(), packet.size()).video.frame().stride, 176);
}

TEST(VideoPacketReaderTest, AnEmptyPayloadIsReadNormally) {
  const std::string packet = VideoPacket(Info(3), "");
  ASSERT_EQ(packet.size(), 36u);
  const auto r = ReadWholePacket(packet.data(), packet.size());
  EXPECT_EQ(r.kind, PacketKind::kVideo);
  EXPECT_EQ(r.video.payload_length, 0u);
  EXPECT_EQ(r.length, 36u);
}

TEST(VideoPacketReaderTest, RecordsWithoutAPictureSizeAreDropped) {
  for (const auto& [w, h] : {std::pair{0, 144}, std::pair{176, 0}, std::pair{0, 0}}) {
    const std::string packet = VideoPacket(
        Info(5, 1, static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h)), "abc");
    const auto r = ReadWholePacket(packet.data(), packet.size());
    EXPECT_EQ(r.kind, PacketKind::kDropped);
    EXPECT_EQ(r.length, 39u) << "its bytes are still removed";
  }
}

TEST(VideoPacketReaderTest, OtherCommandsAreSkippedWhole) {
  const std::string packet = RawPacket(20, 5, std::string(11, 'q'));
  const auto r = ReadWholePacket(packet.data(), packet.size());
  EXPECT_EQ(r.kind, PacketKind::kSkipped);
  EXPECT_EQ(r.command, 5u);
  EXPECT_EQ(r.length, 20u);
}

TEST(VideoPacketReaderTest, ARecordRunningPastItsPacketIsBad) {
  // The header says 40 bytes, the record claims a 10-byte payload (46 bytes):
  // the bytes it would take belong to the next packet.
  std::string packet = VideoPacket(Info(1), Payload(10, 'a'));
  PutLe32(packet, 0, 40);
  const std::string stream = packet + VideoPacket(Info(2), "next");
  const auto r = ReadWholePacket(stream.data(), stream.size());
  EXPECT_EQ(r.kind, PacketKind::kBad);
  EXPECT_EQ(r.length, 0u);
  EXPECT_NE(r.error, nullptr);
}

TEST(VideoPacketReaderTest, BytesAfterTheRecordInsideItsPacketAreIgnored) {
  std::string packet = VideoPacket(Info(1), "abcd") + "tail";
  PutLe32(packet, 0, 44);
  const auto r = ReadWholePacket(packet.data(), packet.size());
  EXPECT_EQ(r.kind, PacketKind::kVideo);
  EXPECT_EQ(r.length, 44u);
  EXPECT_EQ(r.video.payload_length, 4u);
}

TEST(VideoPacketReaderTest, ReadingWithoutAWholePacketIsBad) {
  const std::string packet = VideoPacket(Info(1), "abcd");
  EXPECT_EQ(ReadWholePacket(packet.data(), packet.size() - 1).kind, PacketKind::kBad);
  EXPECT_EQ(ReadWholePacket(packet.data(), 3).kind, PacketKind::kBad);
  const std::string zero = RawPacket(0, 7, std::string(40, 'x'));
  EXPECT_EQ(ReadWholePacket(zero.data(), zero.size()).kind, PacketKind::kBad);
}

TEST(VideoPacketReaderTest, APacketSplitAnywhereIsReadWhenItsLastByteArrives) {
  const std::string packet = VideoPacket(Info(9), Payload(100, 'k'));
  for (std::size_t cut = 0; cut <= packet.size(); ++cut) {
    SCOPED_TRACE(cut);
    std::string buffer;
    std::vector<Event> events;
    buffer += packet.substr(0, cut);
    ASSERT_TRUE(Drain(buffer, events));
    EXPECT_EQ(events.size(), cut == packet.size() ? 1u : 0u);
    buffer += packet.substr(cut);
    ASSERT_TRUE(Drain(buffer, events));
    EXPECT_EQ(events, (std::vector<Event>{Video(9, Payload(100, 'k'))}));
    EXPECT_TRUE(buffer.empty());
  }
}

TEST(VideoPacketReaderTest, AStreamDeliveredByteByByteReadsTheSame) {
  const std::string stream = VideoPacket(Info(1), "one") + RawPacket(20, 5, std::string(11, 'q')) +
                             VideoPacket(Info(2), Payload(300, 'z'));
  std::string buffer;
  std::vector<Event> events;
  for (const char c : stream) {
    buffer += c;
    ASSERT_TRUE(Drain(buffer, events));
  }
  EXPECT_EQ(events,
            (std::vector<Event>{
                Video(1, "one"), {PacketKind::kSkipped, 20, 0, ""}, Video(2, Payload(300, 'z'))}));
}

TEST(VideoPacketReaderTest, TwoPacketsInOneDeliveryAreBothRead) {
  std::string buffer = VideoPacket(Info(1), "first") + VideoPacket(Info(2), "second") + "\x10";
  std::vector<Event> events;
  ASSERT_TRUE(Drain(buffer, events));
  EXPECT_EQ(events, (std::vector<Event>{Video(1, "first"), Video(2, "second")}));
  EXPECT_EQ(buffer, "\x10") << "a partial packet waits";
}

TEST(VideoPacketReaderTest, SkippedAndDroppedPacketsLeaveTheNextOneIntact) {
  std::string buffer = RawPacket(20, 5, std::string(11, 'q')) +
                       VideoPacket(Info(1, 1, 0, 144), "dropped") + VideoPacket(Info(2), "shown");
  std::vector<Event> events;
  ASSERT_TRUE(Drain(buffer, events));
  EXPECT_EQ(events, (std::vector<Event>{{PacketKind::kSkipped, 20, 0, ""},
                                        {PacketKind::kDropped, 43, 1, "dropped"},
                                        Video(2, "shown")}));
  EXPECT_TRUE(buffer.empty());
}

TEST(VideoPacketReaderTest, ABadLengthStopsTheStreamAndLeavesItsBytes) {
  struct BadCase {
    const char* name;
    std::string bad;
  };
  std::string runs_past = VideoPacket(Info(3), "abcdef");
  PutLe32(runs_past, 0, 38);
  const std::vector<BadCase> cases = {
      {"length 0", RawPacket(0, 7, "")},
      {"length 5", RawPacket(5, 5, "")},
      {"a video length beyond any frame", RawPacket(70000, 7, "")},
      {"a gigabyte promised", RawPacket(1u << 30, 5, "")},
      {"a record running past its packet", runs_past + std::string(20, 'n')},
  };
  for (const BadCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string buffer = VideoPacket(Info(1), "ok") + c.bad;
    std::vector<Event> events;
    EXPECT_FALSE(Drain(buffer, events)) << "fails at once, without waiting for more";
    EXPECT_EQ(events, (std::vector<Event>{Video(1, "ok")}));
    EXPECT_EQ(buffer, c.bad);
  }
}

}  // namespace
