// Writes the session fuzzer's seed corpus: real packet streams from the
// packet builder, in the fuzzer's input format (a byte choosing the
// deliveries, a byte of trouble, then the stream).
// Usage: make_session_seed_corpus <directory>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "support/video_packet.h"

namespace {

std::string Video(std::uint32_t seq, std::uint8_t key, std::uint16_t width, std::uint16_t height,
                  std::size_t payload_length, std::uint16_t bit_count = 32) {
  VIDEODATA::FrameInfo info = vc_test::TestFrameInfo(key, width, height, seq);
  info.bit_count = bit_count;
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

// Deliveries of at most 1, 2, 9, 37, 136, 1000, 32000 or 100000 bytes a read.
std::string Head(std::uint8_t cut, std::uint8_t trouble) {
  return {static_cast<char>(cut), static_cast<char>(trouble)};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
    return 2;
  }
  std::string stream;
  for (std::uint32_t seq = 0; seq < 6; ++seq)
    stream += Video(seq, seq % 3 == 0 ? 1 : 0, 176, 144, 200 + seq * 10);
  std::string big;
  for (std::uint32_t seq = 0; seq < 3; ++seq)
    big += Video(seq, 1, 352, 288, 20000);

  const std::vector<std::pair<std::string, std::string>> files = {
      {"steady_stream", Head(7, 0) + stream},
      {"byte_by_byte", Head(0, 0) + stream},
      {"odd_pieces", Head(3, 0) + stream},
      {"big_frames_in_chunks", Head(6, 0) + big},
      {"no_key_frame_yet", Head(4, 0) + Video(0, 0, 176, 144, 50) + Video(1, 0, 176, 144, 50)},
      {"size_change", Head(5, 0) + Video(0, 1, 176, 144, 40) + Video(1, 0, 640, 480, 40) +
                          Video(2, 0, 176, 144, 40)},
      {"other_command_and_empty_picture", Head(4, 0) + Raw(20, 5, std::string(11, 'q')) +
                                              Video(3, 1, 0, 144, 8) + Video(4, 1, 176, 144, 8)},
      {"key_frame_requests", Head(7, 0) + Raw(9, 8, "") + Raw(12, 8, "abc")},
      {"bad_length", Head(7, 0) + Video(0, 1, 176, 144, 30) + Raw(3, 7, "")},
      {"record_past_packet", Head(2, 0) + Le32(40) + Video(0, 1, 176, 144, 12).substr(4)},
      {"odd_bit_count", Head(7, 0) + Video(0, 1, 176, 144, 10, 24) + Video(1, 1, 176, 144, 10)},
      {"huge_picture", Head(7, 0) + Video(0, 1, 4000, 3000, 10) + Video(1, 1, 65535, 65535, 10)},
      {"partial_tail",
       Head(1, 0) + Video(0, 1, 176, 144, 24) + Video(1, 0, 176, 144, 24).substr(0, 30)},
      {"recv_throws", Head(2, 1) + stream},
      {"decoder_trouble", Head(7, 2 | 4 | 8) + stream},
      {"closed_in_the_end", Head(7, 16 | 32) + stream},
      {"window_goes", Head(3, 64) + stream},
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
