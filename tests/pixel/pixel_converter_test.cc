// PixelConverter's routines on every path this processor runs (the mask picks one).
#include "pixel/pixel_converter.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include "pixel/cpu_features.h"
#include "pixel/scale_row.h"
#include "pixel/yuy2_row.h"
#include "support/guarded_buffer.h"

namespace {
using namespace pixel_kernels;

// The scalar statement with SSE2 hidden, each vector kernel with the wider ones hidden.
constexpr struct Path {
  const char* name;
  unsigned mask, needs;
} kPaths[] = {{"c", kCpuSse2, 0},
              {"sse2", kCpuAvx2, kCpuSse2},
              {"avx2", kCpuAvx512F, kCpuAvx2},
              {"avx512bw", 0, kCpuAvx512Bw}};

struct ScopedMask {
  explicit ScopedMask(unsigned mask) { MaskCpuFeatures(mask); }
  ~ScopedMask() { MaskCpuFeatures(0); }
};

VideoFrame Frame(void* pixels, int width, int height, int stride) {
  return {static_cast<std::uint8_t*>(pixels), stride, width, height, 0};
}

// Every width up to 67 and a few long ones, three rows, each buffer ending at
// an inaccessible page. The first (width rounded down to 8) pixels of a row
// take the fast path, the rest the scalar routine; an odd width's last pixel
// repeats its neighbour; the first source row lands in the last destination row.
TEST(Yuy2ToRgb32, EveryPathMatchesItsReferenceAtEveryWidthInsideItsBuffersAndKnownValues) {
  // Y, U, V, and the pixel of the fast and of the scalar arithmetic.
  constexpr std::uint32_t kKnown[][5] = {{16, 128, 128, 0xFF000000u, 0xFF000000u},
                                         {126, 128, 128, 0xFF808080u, 0xFF808080u},
                                         {235, 128, 128, 0xFFFFFFFFu, 0xFFFEFEFEu},
                                         {81, 90, 240, 0xFFFD0000u, 0xFFFE0000u}};
  const PixelConverter converter;
  std::mt19937 rng(16);
  constexpr int kHeight = 3;
  for (const auto& [name, mask, needs] : kPaths) {  // each path this processor has
    if (needs != 0 && !CpuHas(static_cast<CpuFeature>(needs)))
      continue;
    const ScopedMask scoped(mask);
    ASSERT_EQ(std::string(BestYuy2RowsName()), name);
    const bool fast = mask != kCpuSse2;
    for (int w = 1; w <= 67 + 3 * 64; w += w < 67 ? 1 : 61) {
      const std::size_t src_row = std::size_t(w / 2) * 4;
      GuardedBuffer src(std::max<std::size_t>(src_row * kHeight, 1)), dst(w * 4 * kHeight);
      ASSERT_TRUE(src.data() != nullptr && dst.data() != nullptr);
      std::generate_n(src.data(), src.size(), [&] { return std::uint8_t(rng()); });
      VideoFrame frame = Frame(dst.data(), w, kHeight, w * 4);
      converter.Yuy2ToRgb32(src.data(), frame);
      const int fast_width = fast ? w & ~7 : 0;
      std::vector<std::uint32_t> want(std::size_t(w) + 1);
      for (int r = 0; r < kHeight; ++r) {
        const std::uint8_t* row = src.data() + src_row * r;
        Yuy2ToArgbRow_C(row, want.data(), fast_width);
        converter.Yuy2RowToRgb32(want.data() + fast_width, row + 2 * fast_width,
                                 (w & ~1) - fast_width);
        if (w % 2 == 1)
          want[w - 1] = w > 1 ? want[w - 2] : 0xFF000000u;
        ASSERT_EQ(0, std::memcmp(dst.data() + (kHeight - 1 - r) * w * 4, want.data(), w * 4))
            << name << " width " << w << " row " << r;
      }
    }
    // Known values of both arithmetics on a width of 36: 32 fast pixels, 4 scalar.
    for (const auto& [y, u, v, fast_pixel, scalar_pixel] : kKnown) {
      const std::vector<std::uint32_t> groups(18, y | u << 8 | y << 16 | v << 24);  // Y U Y V
      std::uint32_t out[36] = {};
      VideoFrame frame = Frame(out, 36, 1, 36 * 4);
      converter.Yuy2ToRgb32(reinterpret_cast<const std::uint8_t*>(groups.data()), frame);
      for (int x = 0; x < 36; ++x)
        EXPECT_EQ(out[x], fast && x < 32 ? fast_pixel : scalar_pixel) << name << " Y " << y;
    }
  }
}

// The scalar routine against its formula for every Y, U and V (sums outside
// -256..511 included).
TEST(Yuy2RowToRgb32, FollowsItsFormulaForEveryInput) {
  const PixelConverter converter;
  const auto channel = [](int sum) { return std::uint32_t(std::clamp(sum >> 16, 0, 255)); };
  std::uint8_t src[512];
  std::uint32_t out[256];
  for (int u = 0; u < 256; ++u) {
    for (int v = 0; v < 256; ++v) {
      for (int i = 0; i < 512; ++i)
        src[i] = static_cast<std::uint8_t>(i % 2 == 0 ? i / 2 : i % 4 == 1 ? u : v);
      converter.Yuy2RowToRgb32(out, src, 256);
      for (int y = 0; y < 256; ++y) {
        const int l = (y - 16) * 76309, cu = u - 128, cv = v - 128;
        const std::uint32_t want = 0xFF000000u | channel(l + cv * 104597) << 16 |
                                   channel(l + cu * -25674 + cv * -53278) << 8 |
                                   channel(l + cu * 132201);
        ASSERT_EQ(out[y], want) << "Y " << y << " U " << u << " V " << v;
      }
    }
  }
}

TEST(Rgb24ToRgb32, KeepsTheRowOrderAndConvertsInPlace) {
  const PixelConverter converter;
  constexpr int w = 5, h = 3;
  std::vector<std::uint32_t> out(w * h), shared(w * h);
  auto* src = reinterpret_cast<std::uint8_t*>(shared.data());
  std::iota(src, src + w * h * 3, std::uint8_t{0x10});
  VideoFrame dst = Frame(out.data(), w, h, w * 4), same = Frame(shared.data(), w, h, w * 4);
  ASSERT_TRUE(converter.Rgb24ToRgb32(src, dst));
  EXPECT_TRUE(out[0] == 0xFF121110u && out[w * h - 1] == 0xFF3C3B3Au);
  // Source and destination at one address: the last pixel is done first.
  ASSERT_TRUE(converter.Rgb24ToRgb32(src, same));
  EXPECT_EQ(shared, out);
}

// Pictures whose every pixel names its own column and row.
std::vector<std::uint32_t> Numbered(int w, int h) {
  std::vector<std::uint32_t> p(std::size_t(w) * h);
  for (std::size_t i = 0; i < p.size(); ++i)
    p[i] = std::uint32_t(i / w) << 16 | std::uint32_t(i % w);
  return p;
}

// Picks of the definition, on the plain path and the vector one: 320 to 176
// columns, 176 doubled, 3440 from 176 (the last picks pass the source's end,
// at an inaccessible page, and take its last column).
TEST(ScaleNearest, PicksTheDefinedColumnsOnEachPath) {
  const PixelConverter converter;
  for (const unsigned mask : {unsigned{kCpuAvx512F}, 0u}) {
    const ScopedMask scoped(mask);
    const int picks[][4] = {
        {320, 176, 6, 10}, {176, 352, 175, 87}, {176, 3440, 3419, 174}, {176, 3440, 3439, 175}};
    for (const auto& [from, to, column, pick] : picks) {
      const std::vector<std::uint32_t> picture = Numbered(from, 2);
      GuardedBuffer src(picture.size() * 4);
      ASSERT_NE(src.data(), nullptr);
      std::memcpy(src.data(), picture.data(), src.size());
      std::vector<std::uint32_t> out(std::size_t(to) * 4);
      VideoFrame dst = Frame(out.data(), to, 4, to * 4);
      converter.ScaleNearest(dst, Frame(src.data(), from, 2, from * 4));
      EXPECT_EQ(out[column], std::uint32_t(pick)) << from << " -> " << to << " mask " << mask;
      EXPECT_EQ(out[3 * std::size_t(to)] >> 16, 1u) << "the last row takes the last source row";
    }
    std::uint32_t untouched[4] = {9, 9, 9, 9};
    VideoFrame empty = Frame(untouched, 0, 2, 8);  // no columns: nothing written
    converter.ScaleNearest(empty, Frame(untouched, 2, 2, 8));
    EXPECT_EQ(untouched[0], 9u);
  }
}

// The vector scaler against the plain one on random sizes, into rows padded by
// three pixels and starting anywhere in a cache line.
TEST(ScaleNearest, VectorPathMatchesThePlainOneOnRandomSizes) {
  if (!CpuHas(kCpuAvx512F))
    GTEST_SKIP() << "no vector scaler on this processor";
  const PixelConverter converter;
  std::mt19937 rng(9);
  for (int i = 0; i < 80; ++i) {
    const int sw = 1 + int(rng() % 700), sh = 1 + int(rng() % 40);
    const int dw = 1 + int(rng() % (i % 10 == 0 ? 2600 : 700)), dh = 1 + int(rng() % 40);
    const int stride = dw + 3, shift = int(rng() % 16);
    const std::vector<std::uint32_t> picture = Numbered(sw, sh);
    std::vector<std::uint32_t> plain(std::size_t(stride) * dh + 16, 0xDEADBEEFu), vector = plain;
    for (std::vector<std::uint32_t>* out : {&plain, &vector}) {
      const ScopedMask scoped(out == &plain ? kCpuAvx512F : 0u);
      ASSERT_EQ(BestScale() == nullptr, out == &plain);
      VideoFrame dst = Frame(out->data() + shift, dw, dh, stride * 4);
      converter.ScaleNearest(dst,
                             Frame(const_cast<std::uint32_t*>(picture.data()), sw, sh, sw * 4));
    }
    ASSERT_EQ(plain, vector) << sw << "x" << sh << " -> " << dw << "x" << dh << " shift " << shift;
    for (int y = 0; y < dh; ++y)
      ASSERT_EQ(plain[std::size_t(y) * stride + shift + dw], 0xDEADBEEFu) << "padding of row " << y;
  }
}

}  // namespace
