// Writes the fuzzers' seed corpus from real frames: pairing messages signed
// with the fuzzers' conference key, sealed messages the fuzzers' session
// opens, and delivery scripts for the sealed-session fuzzer.
// Usage: make_ksn_seed_corpus <corpus directory>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_session_keys.h"
#include "wire_frame.h"

namespace {

using ksn::FrameKind;

// A payload that looks like the start of an encoded picture.
std::string Picture(std::size_t size) {
  std::string payload(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    payload[i] = static_cast<char>(i * 29 + 3);
  return payload.replace(0, 8, "\x00\x00\x01\xB0\x00\x00\x01\xB6", 8);
}

std::string Signed(const ksn::ConferenceKeys& conference, FrameKind kind, std::uint64_t to,
                   const ksn::PublicKey& to_key) {
  std::string frame(ksn::kPairingFrameSize, '\0');
  auto* raw = reinterpret_cast<unsigned char*>(frame.data());
  ksn::WritePairingFrame({kind, 0x1111, to, {}}, raw);
  conference.Sign(raw, to_key, ksn_fuzz::kReply, raw + ksn::kPairingSignedSize);
  return frame;
}

std::string Sealed(ksn::SessionCipher& a, FrameKind kind, const std::string& payload) {
  std::string frame(ksn::kSealedOverhead, '\0');
  frame += payload;
  a.Seal(kind, reinterpret_cast<unsigned char*>(frame.data()), payload.size());
  return frame;
}

// Sealing records carry their payload; the others name an earlier message.
std::string Record(std::uint8_t op, FrameKind kind, const std::string& payload,
                   std::uint16_t index = 0) {
  const bool sealing = op == 0 || op == 2;
  const auto value = sealing ? static_cast<std::uint16_t>(payload.size()) : index;
  return std::string{static_cast<char>(op), static_cast<char>(kind), static_cast<char>(value),
                     static_cast<char>(value >> 8)} +
         (sealing ? payload : "");
}

bool Write(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  const bool ok = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return file && std::fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
    return 2;
  }
  const ksn_fuzz::SessionKeys keys;
  const ksn::ConferenceKeys conference(ksn_fuzz::kConference);
  ksn::SessionCipher a(keys.a_rx, keys.a_tx);
  std::string legacy(ksn::kLegacyHeaderSize, '\0');
  legacy[0] = 'K', legacy[1] = 1, legacy[2] = 1, legacy[4] = 9;

  const std::vector<std::pair<std::string, std::string>> files = {
      {"frame/hello", Signed(conference, FrameKind::kHello, 0, {})},
      {"frame/propose", Signed(conference, FrameKind::kPropose, 0x2222, keys.b_key())},
      {"frame/accept", Signed(conference, FrameKind::kAccept, 0x2222, keys.b_key())},
      {"frame/busy", Signed(conference, FrameKind::kBusy, 0x2222, keys.b_key())},
      {"frame/full", Signed(conference, FrameKind::kFull, 0x2222, keys.b_key())},
      {"frame/bye", Signed(conference, FrameKind::kBye, 0x2222, keys.b_key())},
      {"frame/sealed_data", Sealed(a, FrameKind::kData, Picture(600))},
      {"frame/sealed_heartbeat", Sealed(a, FrameKind::kHeartbeat, "")},
      {"frame/sealed_bye", Sealed(a, FrameKind::kBye, "")},
      {"frame/legacy_header", legacy},
      {"opened/in_order",
       Record(0, FrameKind::kData, Picture(300)) + Record(0, FrameKind::kHeartbeat, "") +
           Record(0, FrameKind::kData, Picture(40)) + Record(0, FrameKind::kBye, "")},
      {"opened/replayed_and_late",
       Record(2, FrameKind::kData, Picture(50)) + Record(0, FrameKind::kData, Picture(60)) +
           Record(1, FrameKind::kData, "", 0) + Record(1, FrameKind::kData, "", 1)},
      {"opened/flipped",
       Record(0, FrameKind::kData, Picture(80)) + Record(3, FrameKind::kHeartbeat, "", 40)},
  };
  for (const auto& [name, bytes] : files) {
    if (!Write(std::string(argv[1]) + "/" + name, bytes)) {
      std::fprintf(stderr, "cannot write %s/%s\n", argv[1], name.c_str());
      return 1;
    }
  }
  return 0;
}
