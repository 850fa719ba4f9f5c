// What sealing costs a call: the pairing handshake of two members, and a
// seal plus open of video-sized messages beside the codec's encode of a
// frame of about that size (the goal: at most 1 % of it).
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "conference_keys.h"
#include "external/ivcodec.h"
#include "moving_picture.h"
#include "session_cipher.h"
#include "wire_frame.h"

namespace {

constexpr char kCid[] = "0c9d6f3e-4b1a-4e8f-9a27-5d3c1b0e7f64";
constexpr char kAddress[] = "ksn.s.00112233445566778899aabbccddeeff";

// Signs one pairing message of `from` and checks it as its addressee would.
bool Exchange(const ksn::ConferenceKeys& keys, ksn::FrameKind kind, const ksn::SessionCipher& from,
              const ksn::PublicKey& to_key) {
  unsigned char frame[ksn::kPairingFrameSize];
  ksn::WritePairingFrame({kind, 1, 2, from.public_key()}, frame);
  keys.Sign(frame, to_key, kAddress, frame + ksn::kPairingSignedSize);
  ksn::FrameHeader header;
  return ksn::ReadPairingFrame(frame, sizeof frame, &header) &&
         keys.Verify(frame, to_key, kAddress, frame + ksn::kPairingSignedSize);
}

// Both members' side of a pairing: keys from the conference id, fresh key
// pairs, HELLO, PROPOSE and ACCEPT signed and checked, session keys agreed.
void BM_Handshake(benchmark::State& state) {
  for (auto _ : state) {
    const ksn::ConferenceKeys a_keys(kCid), b_keys(kCid);
    ksn::SessionCipher a, b;
    bool ok = Exchange(b_keys, ksn::FrameKind::kHello, b, {}) &&
              Exchange(a_keys, ksn::FrameKind::kPropose, a, b.public_key()) &&
              Exchange(b_keys, ksn::FrameKind::kAccept, b, a.public_key()) &&
              a.Agree(b.public_key(), true) && b.Agree(a.public_key(), false);
    benchmark::DoNotOptimize(ok);
  }
}
BENCHMARK(BM_Handshake)->Unit(benchmark::kMicrosecond);

void BM_SealAndOpen(benchmark::State& state) {
  ksn::SessionCipher a, b;
  if (!a.Agree(b.public_key(), true) || !b.Agree(a.public_key(), false))
    return state.SkipWithError("no keys");
  const auto length = static_cast<std::size_t>(state.range(0));
  std::vector<unsigned char> message(ksn::kSealedOverhead + length, 0x5a);
  for (auto _ : state) {
    a.Seal(ksn::FrameKind::kData, message.data(), length);
    ksn::FrameKind inner;
    std::uint64_t skipped;
    if (b.Open(message.data(), message.size(), &inner, &skipped) != ksn::SessionCipher::Opened::kOk)
      return state.SkipWithError("did not open");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * length));
}
BENCHMARK(BM_SealAndOpen)->Arg(2048)->Arg(6144)->Arg(61440)->Unit(benchmark::kMicrosecond);

// The codec's encode of one frame of the moving picture, at sizes whose key
// frames come near 2, 6 and 60 KB.
void BM_CodecEncode(benchmark::State& state) {
  static constexpr std::array<std::array<int, 3>, 3> kSizes = {
      {{176, 144, 49000}, {352, 288, 100000}, {1280, 720, 2000000}}};
  const auto& [width, height, bitrate] = kSizes[static_cast<std::size_t>(state.range(0))];
  std::unique_ptr<IVCodec> codec(IVCodec_Creater());
  codec->open(width, height, 15.0f, static_cast<std::uint32_t>(bitrate), 32);
  std::vector<std::vector<std::uint8_t>> pictures;
  for (int t = 0; t < 30; ++t)
    pictures.push_back(vcodec_test::MovingPicture(width, height, t));
  std::vector<std::uint8_t> out(pictures[0].size());
  std::size_t frame = 0, bytes = 0;
  for (auto _ : state) {
    const auto& picture = pictures[frame++ % pictures.size()];
    std::uint32_t length = 0;
    std::uint8_t key = 0;
    codec->encode(picture.data(), static_cast<std::uint32_t>(picture.size()), out.data(), &length,
                  &key);
    bytes += length;
  }
  state.SetLabel(std::to_string(width) + "x" + std::to_string(height));
  state.counters["avg_frame_bytes"] =
      static_cast<double>(bytes) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_CodecEncode)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
