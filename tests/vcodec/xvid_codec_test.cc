// The codec library through its one export, with real libavcodec behind it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
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

// Encodes frames [0, count) of the moving picture, with noise of up to
// +-`noise` added.
std::vector<Packet> Encode(IVCodec& codec, int w, int h, int count, int noise = 0) {
  std::vector<Packet> packets;
  std::mt19937 random(7);
  for (int t = 0; t < count; ++t) {
    Bytes picture = MovingPicture(w, h, t);
    for (auto& byte : picture)
      byte = static_cast<std::uint8_t>(
          std::clamp<int>(byte + static_cast<int>(random() % (2 * noise + 1)) - noise, 0, 255));
    const auto size = static_cast<std::uint32_t>(picture.size());
    Bytes out(size);
    std::uint32_t length = 12345;
    std::uint8_t key = 9;
    codec.encode(picture.data(), size, out.data(), &length, &key);
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
    for (std::size_t i = size; i < bytes.size(); ++i)
      EXPECT_EQ(bytes[i], 0xEE) << "written past the picture at " << i;
    return ok;
  }
  std::uint32_t size;
  Bytes bytes;
};

struct Stream {
  int width, height, rate;
  std::uint32_t bitrate;
};

class RoundTrip : public testing::TestWithParam<Stream> {};

// Ten seconds of video as the module sends it: every frame decodes at 30 dB
// or better after the first second, key frames come at least every two
// seconds, every packet fits one video packet and the rate is held.
TEST_P(RoundTrip, TenSecondsDecodeWellAtTheConfiguredRate) {
  const Stream s = GetParam();
  auto encoder = Opened(s.width, s.height, static_cast<float>(s.rate), s.bitrate);
  auto decoder = Opened(s.width, s.height, static_cast<float>(s.rate), s.bitrate);
  const auto packets = Encode(*encoder, s.width, s.height, 10 * s.rate);
  Target target(s.width, s.height);
  std::size_t total = 0;
  int last_key = -1;
  for (int t = 0; t < static_cast<int>(packets.size()); ++t) {
    const Packet& p = packets[t];
    total += p.bytes.size();
    ASSERT_LE(p.bytes.size(), 65535u);
    if (p.key)
      last_key = t;
    ASSERT_GE(last_key, 0) << "the stream must start with a key frame";
    ASSERT_LE(t - last_key, 2 * s.rate - 1) << "frame " << t;
    ASSERT_TRUE(target.Decode(*decoder, p.bytes)) << "frame " << t;
    if (t >= s.rate) {
      EXPECT_GE(Psnr(MovingPicture(s.width, s.height, t), target.bytes.data(), s.width, s.height),
                30.0)
          << "frame " << t;
    }
  }
  const double rate = total * 8 / 10.0;
  EXPECT_NEAR(rate, s.bitrate, 0.2 * s.bitrate);
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

TEST(XvidCodec, UnusableParametersLeaveTheObjectInert) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const Stream bad[] = {{0, 144, 20, 1},    {176, -144, 20, 1}, {3841, 144, 20, 1},
                        {176, 2161, 20, 1}, {176, 144, 0, 1},   {176, 144, -20, 1}};
  Bytes picture = MovingPicture(176, 144, 0);
  Bytes out(picture.size());
  Target target(176, 144);
  const Bytes packet = Encode(*Opened(176, 144, 20, 49000), 176, 144, 1)[0].bytes;
  auto check_inert = [&](IVCodec& codec, float rate, int bits, const Stream& s) {
    std::uint32_t length = 1;
    std::uint8_t key = 1;
    codec.encode(picture.data(), static_cast<std::uint32_t>(picture.size()), out.data(), &length,
                 &key);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(key, 0);
    EXPECT_FALSE(target.Decode(codec, packet));
    EXPECT_NE(codec.check(s.width, s.height, rate, s.bitrate, bits), -1);
  };
  for (const Stream& s : bad)
    check_inert(*Opened(s.width, s.height, static_cast<float>(s.rate), 1), s.rate, 32, s);
  check_inert(*Opened(176, 144, nan, 1), nan, 32, {176, 144, 0, 1});
  check_inert(*Opened(176, 144, 20, 1, 24), 20, 24, {176, 144, 0, 1});
  // A usable object opened again with unusable values stops working too.
  auto codec = Opened(176, 144, 20, 1);
  EXPECT_EQ(codec->check(176, 144, 20, 1, 32), -1);
  codec->open(176, 144, 20, 1, 16);
  check_inert(*codec, 20, 16, {176, 144, 0, 1});
}

TEST(XvidCodec, CheckMatchesOnlyAllFiveValues) {
  auto codec = Opened(176, 144, 20, 49000);
  EXPECT_EQ(codec->check(176, 144, 20, 49000, 32), -1);
  EXPECT_NE(codec->check(177, 144, 20, 49000, 32), -1);
  EXPECT_NE(codec->check(176, 145, 20, 49000, 32), -1);
  EXPECT_NE(codec->check(176, 144, 20.5f, 49000, 32), -1);
  EXPECT_NE(codec->check(176, 144, 20, 49001, 32), -1);
  EXPECT_NE(codec->check(176, 144, 20, 49000, 24), -1);
}

// Damaged, truncated and foreign packets answer false or a concealed
// picture, and never write past the picture.
TEST(XvidCodec, DamagedInputNeverWritesOutsideThePicture) {
  auto encoder = Opened(352, 288, 15, 100000);
  const auto packets = Encode(*encoder, 352, 288, 20);
  auto small = Opened(176, 144, 15, 100000);
  Target small_target(176, 144);
  EXPECT_FALSE(small_target.Decode(*small, packets[0].bytes)) << "another size";

  auto decoder = Opened(352, 288, 15, 100000);
  Target target(352, 288);
  std::mt19937 random(1);
  for (const Packet& p : packets) {
    Bytes cut(p.bytes.begin(), p.bytes.begin() + p.bytes.size() / 2);
    target.Decode(*decoder, cut);
    Bytes flipped = p.bytes;
    for (int i = 0; i < 8; ++i)
      flipped[random() % flipped.size()] ^= static_cast<std::uint8_t>(1 + random() % 255);
    target.Decode(*decoder, flipped);
    Bytes garbage(1 + random() % 3000);
    for (auto& byte : garbage)
      byte = static_cast<std::uint8_t>(random());
    target.Decode(*decoder, garbage);
  }
  EXPECT_FALSE(target.Decode(*decoder, Bytes{}));
}

TEST(XvidCodec, DecoderOpenedMidStreamShowsPicturesFromTheFirstKeyFrame) {
  auto encoder = Opened(176, 144, 20, 49000);
  const auto packets = Encode(*encoder, 176, 144, 60);
  auto decoder = Opened(176, 144, 20, 49000);
  Target target(176, 144);
  bool keyed = false;
  for (int t = 5; t < 60; ++t) {
    keyed = keyed || packets[t].key;
    if (keyed) {
      ASSERT_TRUE(target.Decode(*decoder, packets[t].bytes)) << t;
      EXPECT_GE(Psnr(MovingPicture(176, 144, t), target.bytes.data(), 176, 144), 30.0) << t;
    } else {
      target.Decode(*decoder, packets[t].bytes);  // false or concealed, nothing more
    }
  }
  EXPECT_TRUE(keyed);
}

}  // namespace
