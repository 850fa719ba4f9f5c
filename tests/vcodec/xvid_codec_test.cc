// The codec library through its one export, with real libavcodec behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "external/ivcodec.h"
#include "moving_picture.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using vcodec_test::MovingPicture;
using vcodec_test::Psnr;

std::unique_ptr<IVCodec> Opened(int w, int h, float rate, std::uint32_t bitrate, int bits = 32) {
  std::unique_ptr<IVCodec> codec(IVCodec_Creater());
  EXPECT_NE(codec, nullptr);
  codec->open(w, h, rate, bitrate, bits);
  return codec;
}

struct Packet {
  Bytes bytes;
  bool key = false;
};

// Frames [0, count) of the moving picture, with noise of up to +-`noise`.
std::vector<Packet> Encode(IVCodec& codec, int w, int h, int count, int noise = 0) {
  std::vector<Packet> packets;
  std::mt19937 random(7);
  for (int t = 0; t < count; ++t) {
    Bytes picture = MovingPicture(w, h, t);
    for (auto& byte : picture)
      byte = static_cast<std::uint8_t>(
          std::clamp<int>(byte + static_cast<int>(random() % (2 * noise + 1)) - noise, 0, 255));
    Bytes out(picture.size());
    std::uint32_t length = 12345;
    std::uint8_t key = 1;
    codec.encode(picture.data(), static_cast<std::uint32_t>(out.size()), out.data(), &length, &key);
    EXPECT_LE(length, out.size());
    out.resize(length);
    packets.push_back({out, key == 1});
  }
  return packets;
}

// A decode target with a guard band after the picture that must stay intact.
struct Target {
  explicit Target(int w, int h)
      : size(static_cast<std::uint32_t>(w) * h * 4), bytes(size + 64, 0xEE) {}
  bool Decode(IVCodec& codec, const Bytes& packet) {
    std::uint32_t length = 0;
    const bool ok = codec.decode(packet.data(), static_cast<std::uint32_t>(packet.size()),
                                 bytes.data(), &length);
    EXPECT_EQ(length, ok ? size : 0u);
    EXPECT_TRUE(std::all_of(bytes.begin() + size, bytes.end(), [](auto b) { return b == 0xEE; }))
        << "written past the picture";
    return ok;
  }
  std::uint32_t size;
  Bytes bytes;
};

using Stream = std::tuple<int, int, int, std::uint32_t>;  // width, height, rate, bit rate
class RoundTrip : public testing::TestWithParam<Stream> {};

// Ten seconds of video as the module sends it: every frame decodes at 30 dB
// or better after the first second, key frames come at least every two
// seconds, every packet fits one video packet and the rate is held.
TEST_P(RoundTrip, TenSecondsDecodeWellAtTheConfiguredRate) {
  const auto [width, height, rate, bitrate] = GetParam();
  auto encoder = Opened(width, height, static_cast<float>(rate), bitrate);
  auto decoder = Opened(width, height, static_cast<float>(rate), bitrate);
  const auto packets = Encode(*encoder, width, height, 10 * rate);
  Target target(width, height);
  std::size_t total = 0;
  int last_key = -1;
  for (int t = 0; t < static_cast<int>(packets.size()); ++t) {
    const Packet& p = packets[t];
    total += p.bytes.size();
    ASSERT_LE(p.bytes.size(), 65535u);
    if (p.key)
      last_key = t;
    ASSERT_GE(last_key, 0) << "the stream must start with a key frame";
    ASSERT_LE(t - last_key, 2 * rate - 1) << "frame " << t;
    ASSERT_TRUE(target.Decode(*decoder, p.bytes)) << "frame " << t;
    if (t >= rate) {
      EXPECT_GE(Psnr(MovingPicture(width, height, t), target.bytes.data(), width, height), 30.0)
          << "frame " << t;
    }
  }
  EXPECT_NEAR(total * 8 / 10.0, bitrate, 0.2 * bitrate);
}

INSTANTIATE_TEST_SUITE_P(ModuleStreams, RoundTrip,
                         testing::Values(Stream{352, 288, 15, 100000},
                                         Stream{176, 144, 20, 49000}));

// Pictures that cannot be coded within a packet, or within a caller's small
// buffer, are sent coarser as key frames, never larger than allowed, and
// still decode.
TEST(XvidCodec, PacketsNeverExceedTheCapsAndStillDecode) {
  for (const auto& [w, h, noise, cap] : {std::tuple{8, 4, 255, 128u}, {1280, 720, 24, 65535u}}) {
    auto encoder = Opened(w, h, 15, 50000000);
    auto decoder = Opened(w, h, 15, 50000000);
    Target target(w, h);
    int shown = 0;
    for (const Packet& p : Encode(*encoder, w, h, 6, noise)) {
      EXPECT_LE(p.bytes.size(), cap);
      shown += !p.bytes.empty() && target.Decode(*decoder, p.bytes);
    }
    EXPECT_EQ(shown, 6);
  }
}

// Unusable parameters leave the object inert; check() matches only all five
// values, so that a caller opens a new object whenever one changes.
TEST(XvidCodec, OnlyUsableParametersOpenAndCheckMatchesAllFive) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const std::tuple<int, int, float, int> bad[] = {
      {0, 144, 20, 32},  {176, -144, 20, 32}, {3841, 144, 20, 32}, {176, 2161, 20, 32},
      {176, 144, 0, 32}, {176, 144, -20, 32}, {176, 144, nan, 32}, {176, 144, 20, 24}};
  Target target(176, 144);
  const Bytes packet = Encode(*Opened(176, 144, 20, 49000), 176, 144, 1)[0].bytes;
  auto check_inert = [&](IVCodec& codec) {
    const Packet made = Encode(codec, 176, 144, 1)[0];
    EXPECT_TRUE(made.bytes.empty() && !made.key);
    EXPECT_FALSE(target.Decode(codec, packet));
  };
  for (const auto& [w, h, rate, bits] : bad) {
    auto codec = Opened(w, h, rate, 1, bits);
    check_inert(*codec);
    EXPECT_NE(codec->check(w, h, rate, 1, bits), -1);
  }
  auto codec = Opened(176, 144, 20, 49000);
  EXPECT_EQ(codec->check(176, 144, 20, 49000, 32), -1);
  for (int i = 0; i < 5; ++i) {  // each value in turn differs
    EXPECT_NE(codec->check(176 + (i == 0), 144 + (i == 1), 20 + 0.5f * (i == 2), 49000 + (i == 3),
                           i == 4 ? 24 : 32),
              -1);
  }
  // A usable object opened again with unusable values stops working too.
  codec->open(176, 144, 20, 1, 16);
  check_inert(*codec);
}

// Damaged, truncated, foreign and empty packets answer false or a concealed
// picture, never written past its end (the decode fuzzer goes further).
TEST(XvidCodec, DamagedInputNeverWritesOutsideThePicture) {
  const auto packets = Encode(*Opened(352, 288, 15, 100000), 352, 288, 10);
  Target small(176, 144);
  EXPECT_FALSE(small.Decode(*Opened(176, 144, 15, 100000), packets[0].bytes)) << "another size";
  auto decoder = Opened(352, 288, 15, 100000);
  Target target(352, 288);
  std::mt19937 random(1);
  for (const Packet& p : packets) {
    Bytes damaged(p.bytes.begin(), p.bytes.begin() + p.bytes.size() / 2);
    for (int i = 0; i < 8; ++i)
      damaged[random() % damaged.size()] ^= static_cast<std::uint8_t>(1 + random() % 255);
    target.Decode(*decoder, damaged);
  }
  EXPECT_FALSE(target.Decode(*decoder, Bytes{}));
}

}  // namespace
