// Writes the fuzzer's seed corpus: real packets from the packet builder, in
// the fuzzer's input format (two bytes choosing the deliveries, then the
// stream). Usage: make_protocol_seed_corpus <directory>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/video_packet.h"

namespace {

std::string Video(std::uint32_t seq, std::uint8_t key, std::uint16_t width, std::uint16_t height,
                  std::size_t payload_length) {
  VIDEODATA::FrameInfo info = vc_test::TestFrameInfo(key, width, height, seq);
  info.timestamp = 1700000000000 + seq * 50;
  std::string payload(payload_length, '\0');
  for (std::size_t i = 0; i < payload_length; ++i)
    payload[i] = static_cast<char>(i * 13 + seq);
  return vc_test::VideoPacket(info, payload);
}

std::string Le32(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}

std::string Raw(std::uint32_t length, std::uint32_t command, const std::string& body) {
  return Le32(length) + Le32(command) + std::string(1, '\0') + body;
}

// Seeds 0..7 pick the largest delivery: 1, 2, 9, 37, 136, 1000, 32000 bytes, all at once.
std::string Seed(std::uint16_t seed) {
  return {static_cast<char>(seed & 0xFF), static_cast<char>(seed >> 8)};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
    return 2;
  }
  std::string past_packet = Video(7, 1, 176, 144, 12);
  past_packet.replace(0, 4, Le32(40));
  std::string trailing = Video(8, 0, 176, 144, 4) + "tail";
  trailing.replace(0, 4, Le32(44));

  const std::vector<std::pair<std::string, std::string>> files = {
      {"one_key_frame", Seed(7) + Video(0, 1, 176, 144, 100)},
      {"two_in_one_delivery", Seed(7) + Video(1, 1, 176, 144, 20) + Video(2, 0, 176, 144, 30)},
      {"byte_by_byte", Seed(0) + Video(3, 1, 352, 288, 40) + Video(4, 0, 352, 288, 10)},
      {"split_in_pieces", Seed(3) + Video(5, 1, 176, 144, 80) + Video(6, 0, 176, 144, 60)},
      {"skipped_command", Seed(4) + Raw(20, 5, std::string(11, 'q')) + Video(9, 1, 176, 144, 16)},
      {"dropped_no_width", Seed(2) + Video(10, 1, 0, 144, 8) + Video(11, 1, 176, 144, 8)},
      {"empty_payload", Seed(7) + Video(12, 1, 176, 144, 0)},
      {"length_zero", Seed(7) + Video(13, 1, 176, 144, 4) + Raw(0, 7, std::string(30, 'z'))},
      {"record_past_packet", Seed(5) + past_packet + Video(14, 0, 176, 144, 6)},
      {"trailing_bytes", Seed(6) + trailing + Video(15, 0, 176, 144, 6)},
      {"key_frame_requests", Seed(2) + Raw(9, 8, "") + Raw(12, 8, "abc")},
      {"partial_tail",
       Seed(1) + Video(16, 1, 176, 144, 24) + Video(17, 0, 176, 144, 24).substr(0, 30)},
  };
  for (const auto& [name, bytes] : files) {
    const std::string path = std::string(argv[1]) + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
    std::fclose(f);
  }
  return 0;
}
