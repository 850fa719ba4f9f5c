// Finding whole packets at the front of a receive buffer and reading them in
// place: the limits. Arbitrary streams against an independent walk are the
// reader fuzzer's; the session's tests feed it whole streams in any split.
#include "protocol/video_packet_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "support/video_packet.h"

namespace {

using vc_test::VideoPacket;
using VIDEODATA::FindWholePacket;
using VIDEODATA::FrontState;
using VIDEODATA::PacketKind;
using VIDEODATA::ReadWholePacket;

VIDEODATA::FrameInfo Info(std::uint32_t seq, std::uint16_t width = 176) {
  return vc_test::TestFrameInfo(1, width, 144, seq);
}

// A header with any length and command, followed by `body`.
std::string RawPacket(std::uint32_t length, std::uint32_t command, const std::string& body) {
  std::string s(9, '\0');
  for (int i = 0; i < 4; ++i) {
    s[i] = static_cast<char>(length >> (8 * i));
    s[4 + i] = static_cast<char>(command >> (8 * i));
  }
  return s + body;
}

TEST(VideoPacketReaderTest, FindsAndReadsWholePacketsAndRefusesImpossibleOnes) {
  const std::string video = VideoPacket(Info(1), std::string(100, 'a'));
  std::string runs_past = VideoPacket(Info(1), std::string(10, 'a'));
  runs_past[0] = 40;  // the record's 46 bytes would take 6 of the next packet's
  std::string with_tail = VideoPacket(Info(1), "abcd") + "tail";
  with_tail[0] = 44;
  using enum FrontState;
  using K = PacketKind;
  // The bytes; what the front says (state, length); what reading gives (kind,
  // length taken off the stream).
  const std::vector<std::tuple<std::string, FrontState, std::uint32_t, K, std::uint32_t>> cases = {
      {video.substr(0, 135), kIncomplete, 136, K::kBad, 0},
      {video + video.substr(0, 20), kWhole, 136, K::kVideo, 136},
      {RawPacket(9, 8, ""), kWhole, 9, K::kKeyFrameRequest, 9},
      {RawPacket(12, 8, "abc"), kWhole, 12, K::kKeyFrameRequest, 12},
      {with_tail, kWhole, 44, K::kVideo, 44},
      {runs_past + video, kWhole, 40, K::kBad, 0},
      {RawPacket(8, 5, ""), kBad, 8, K::kBad, 0},
      {RawPacket(35, 7, std::string(40, 'x')), kBad, 35, K::kBad, 0},
      {RawPacket(65571, 7, ""), kIncomplete, 65571, K::kBad, 0},
      {RawPacket(65572, 7, ""), kBad, 65572, K::kBad, 0},
      {RawPacket(1u << 20, 5, ""), kIncomplete, 1u << 20, K::kBad, 0},
      {RawPacket((1u << 20) + 1, 5, ""), kBad, (1u << 20) + 1, K::kBad, 0},
  };
  for (const auto& [bytes, state, front_length, kind, length] : cases) {
    const auto front = FindWholePacket(bytes.data(), bytes.size());
    EXPECT_EQ(std::tuple(front.state, front.length), std::tuple(state, front_length)) << length;
    const auto r = ReadWholePacket(bytes.data(), bytes.size());
    EXPECT_EQ(std::tuple(r.kind, r.length), std::tuple(kind, length)) << front_length;
    EXPECT_EQ(r.error != nullptr, kind == PacketKind::kBad);
  }
  EXPECT_EQ(FindWholePacket(nullptr, 100).state, kIncomplete);
}

// Where the payload lies and the picture it describes are the fuzzer's too.
TEST(VideoPacketReaderTest, ReadsEveryFieldOfAVideoRecord) {
  VIDEODATA::FrameInfo twelve = Info(42);
  twelve.bit_count = 12;  // whole bytes per pixel only: 1
  std::string packet = VideoPacket(twelve, std::string(100, 'a'));
  packet[8] = '\x7F';  // the reserved byte means nothing to a reader
  const auto r = ReadWholePacket(packet.data(), packet.size());
  EXPECT_EQ(r.video.info, twelve);
  EXPECT_EQ(std::tuple(r.video.frame().stride, r.video.frame().timestamp),
            std::tuple(176, std::int64_t{1700000000042}));
}

}  // namespace
