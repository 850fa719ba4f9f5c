// PixelConverter: the clamp table, RGB24 and YUY2 to 32-bit pictures on both
// YUY2 paths, and nearest-neighbour scaling.
#include "pixel/pixel_converter.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "pixel/cpu_features.h"
#include "pixel/yuy2_row.h"
#include "guarded_buffer.h"

namespace {

// Sets the process-wide path choice for one test and puts it back after.
class ScopedPath {
 public:
  explicit ScopedPath(bool fast) { pixel_kernels::MaskCpuFeatures(fast ? 0u : ~0u); }
  ~ScopedPath() { pixel_kernels::MaskCpuFeatures(0); }
  ScopedPath(const ScopedPath&) = delete;
  ScopedPath& operator=(const ScopedPath&) = delete;
};

bool FastPathAvailable() {
  return pixel_kernels::CpuHas(pixel_kernels::kCpuSse2);
}

std::vector<std::uint8_t> RandomBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> bytes(n);
  for (auto& b : bytes) {
    b = static_cast<std::uint8_t>(rng());
  }
  return bytes;
}

// A YUY2 row of `groups` copies of one group.
std::vector<std::uint8_t> Yuy2Row(int groups, std::uint8_t y, std::uint8_t u, std::uint8_t v) {
  std::vector<std::uint8_t> row;
  for (int g = 0; g < groups; ++g) {
    row.insert(row.end(), {y, u, y, v});
  }
  return row;
}

std::uint32_t PixelAt(const VideoFrame& f, int x, int row_in_memory) {
  std::uint32_t p;
  std::memcpy(&p, f.data + std::ptrdiff_t{row_in_memory} * f.stride + 4 * x, 4);
  return p;
}

// The scalar path's arithmetic with an explicit clamp instead of the table.
std::uint32_t ScalarPixel(int y, int u, int v) {
  const int luma = (y - 16) * 76309;
  const auto channel = [luma](int term) {
    return static_cast<std::uint32_t>(std::clamp((luma + term) >> 16, 0, 255));
  };
  return 0xFF000000u | channel((v - 128) * 104597) << 16 |
         channel((u - 128) * -25674 + (v - 128) * -53278) << 8 | channel((u - 128) * 132201);
}

// ---------------------------------------------------------------------------
// The clamp table

TEST(ClampTable, HoldsEachIndexLess256SaturatedTo0To255) {
  const PixelConverter converter;
  const std::uint8_t* table = converter.clamp_table();
  EXPECT_EQ(table[0], 0);
  EXPECT_EQ(table[255], 0);
  EXPECT_EQ(table[256], 0);
  EXPECT_EQ(table[300], 44);
  EXPECT_EQ(table[511], 255);
  EXPECT_EQ(table[512], 255);
  EXPECT_EQ(table[767], 255);
  for (int i = 0; i < 768; ++i) {
    ASSERT_EQ(table[i], std::clamp(i - 256, 0, 255)) << i;
  }
}

// ---------------------------------------------------------------------------
// RGB24

TEST(Rgb24ToRgb32, AddsAnOpaqueFourthByteToEachPixel) {
  const PixelConverter converter;
  const std::uint8_t src[] = {0x10, 0x20, 0x30, 0xFF, 0x00, 0x80};
  std::uint32_t out[2] = {};
  VideoFrame dst{reinterpret_cast<std::uint8_t*>(out), 8, 2, 1, 0};
  EXPECT_TRUE(converter.Rgb24ToRgb32(src, dst));
  EXPECT_EQ(out[0], 0xFF302010u);
  EXPECT_EQ(out[1], 0xFF8000FFu);
}

TEST(Rgb24ToRgb32, KeepsTheRowOrderAndConvertsInPlace) {
  const PixelConverter converter;
  const int w = 5, h = 3;
  const std::vector<std::uint8_t> src = RandomBytes(w * h * 3, 3);
  std::vector<std::uint32_t> separate(w * h);
  VideoFrame dst{reinterpret_cast<std::uint8_t*>(separate.data()), w * 4, w, h, 0};
  ASSERT_TRUE(converter.Rgb24ToRgb32(src.data(), dst));
  for (int i = 0; i < w * h; ++i) {
    const std::uint32_t want =
        0xFF000000u | src[3 * i + 2] << 16 | src[3 * i + 1] << 8 | src[3 * i];
    ASSERT_EQ(separate[i], want) << i;
  }
  // Source and destination at one address: working from the last pixel back
  // never overwrites a pixel not yet read.
  std::vector<std::uint32_t> shared(w * h);
  std::memcpy(shared.data(), src.data(), src.size());
  VideoFrame same{reinterpret_cast<std::uint8_t*>(shared.data()), w * 4, w, h, 0};
  ASSERT_TRUE(converter.Rgb24ToRgb32(reinterpret_cast<const std::uint8_t*>(shared.data()), same));
  EXPECT_EQ(shared, separate);
}

// ---------------------------------------------------------------------------
// The scalar YUY2 row routine

TEST(Yuy2RowToRgb32, GivesTheScalarPathValues) {
  const PixelConverter converter;
  struct Case {
    std::uint8_t y, u, v;
    std::uint32_t want;
  } const cases[] = {{16, 128, 128, 0xFF000000u},
                     {126, 128, 128, 0xFF808080u},
                     {235, 128, 128, 0xFFFEFEFEu},
                     {81, 90, 240, 0xFFFE0000u}};
  for (const Case& c : cases) {
    const std::vector<std::uint8_t> src = Yuy2Row(1, c.y, c.u, c.v);
    std::uint32_t out[2] = {};
    converter.Yuy2RowToRgb32(out, src.data(), 2);
    EXPECT_EQ(out[0], c.want);
    EXPECT_EQ(out[1], c.want);
  }
}

// Every Y, U and V value, including those outside the nominal video range,
// whose sums fall outside -256..511 (down to -277, up to 534); under
// AddressSanitizer this also shows that no lookup leaves the table.
TEST(Yuy2RowToRgb32, SaturatesEveryInput) {
  const PixelConverter converter;
  std::vector<std::uint8_t> src(512);
  std::uint32_t out[256];
  for (int u = 0; u < 256; ++u) {
    for (int v = 0; v < 256; ++v) {
      for (int g = 0; g < 128; ++g) {
        src[4 * g] = static_cast<std::uint8_t>(2 * g);
        src[4 * g + 1] = static_cast<std::uint8_t>(u);
        src[4 * g + 2] = static_cast<std::uint8_t>(2 * g + 1);
        src[4 * g + 3] = static_cast<std::uint8_t>(v);
      }
      converter.Yuy2RowToRgb32(out, src.data(), 256);
      for (int y = 0; y < 256; ++y) {
        if (out[y] != ScalarPixel(y, u, v)) {
          FAIL() << "Y " << y << " U " << u << " V " << v << ": " << std::hex << out[y];
        }
      }
    }
  }
}

TEST(Yuy2RowToRgb32, WritesExactlyAnOddCount) {
  const PixelConverter converter;
  const std::vector<std::uint8_t> src = Yuy2Row(2, 126, 128, 128);
  std::uint32_t out[4] = {1, 2, 3, 4};
  converter.Yuy2RowToRgb32(out, src.data(), 3);
  EXPECT_EQ(out[0], 0xFF808080u);
  EXPECT_EQ(out[2], 0xFF808080u);
  EXPECT_EQ(out[3], 4u);
}

// ---------------------------------------------------------------------------
// YUY2 frames

// One frame of `w` x `h` in a destination with stride 4w, both through the
// path chosen by `fast`.
std::vector<std::uint32_t> ConvertFrame(const std::vector<std::uint8_t>& src, int w, int h,
                                        bool fast) {
  const PixelConverter converter;
  const ScopedPath path(fast);
  std::vector<std::uint32_t> out(std::size_t(w) * h, 0x01010101u);
  VideoFrame dst{reinterpret_cast<std::uint8_t*>(out.data()), w * 4, w, h, 0};
  converter.Yuy2ToRgb32(src.data(), dst);
  return out;
}

TEST(Yuy2ToRgb32, GivesTheFastPathValuesWhereTheProcessorAllows) {
  if (!FastPathAvailable()) {
    GTEST_SKIP() << "no fast path on this processor";
  }
  struct Case {
    std::uint8_t y, u, v;
    std::uint32_t want;
  } const cases[] = {{16, 128, 128, 0xFF000000u},
                     {126, 128, 128, 0xFF808080u},
                     {235, 128, 128, 0xFFFFFFFFu},
                     {81, 90, 240, 0xFFFD0000u}};
  for (const Case& c : cases) {
    for (const std::uint32_t pixel : ConvertFrame(Yuy2Row(8, c.y, c.u, c.v), 16, 1, true)) {
      EXPECT_EQ(pixel, c.want) << "Y " << int{c.y};
    }
  }
}

TEST(Yuy2ToRgb32, TakesTheScalarPathWhenTheFlagIsOff) {
  for (const std::uint32_t pixel : ConvertFrame(Yuy2Row(8, 235, 128, 128), 16, 1, false)) {
    EXPECT_EQ(pixel, 0xFFFEFEFEu);
  }
}

// Width 36: 32 pixels by the fast path, the last 4 by the row routine, in
// every row.
TEST(Yuy2ToRgb32, HandsTheRestOfARowToTheRowRoutine) {
  if (!FastPathAvailable()) {
    GTEST_SKIP() << "no fast path on this processor";
  }
  const int w = 36, h = 3;
  std::vector<std::uint8_t> src;
  for (int r = 0; r < h; ++r) {
    const std::vector<std::uint8_t> row = Yuy2Row(w / 2, 235, 128, 128);
    src.insert(src.end(), row.begin(), row.end());
  }
  const std::vector<std::uint32_t> out = ConvertFrame(src, w, h, true);
  for (int r = 0; r < h; ++r) {
    for (int x = 0; x < w; ++x) {
      EXPECT_EQ(out[std::size_t(r) * w + x], x < 32 ? 0xFFFFFFFFu : 0xFFFEFEFEu) << x;
    }
  }
}

// 320 x 240: source rows of 640 bytes, the first landing in the last
// destination row; each row as the routines make it, on both paths.
TEST(Yuy2ToRgb32, TurnsTopDownRowsIntoBottomUpRows) {
  const int w = 320, h = 240;
  const std::vector<std::uint8_t> src = RandomBytes(std::size_t(w) * h * 2, 320);
  const PixelConverter converter;
  for (const bool fast : {false, true}) {
    if (fast && !FastPathAvailable()) {
      continue;
    }
    const std::vector<std::uint32_t> out = ConvertFrame(src, w, h, fast);
    std::vector<std::uint32_t> want(w);
    for (int r = 0; r < h; ++r) {
      const std::uint8_t* row = src.data() + std::size_t(r) * 640;
      if (fast) {
        pixel_kernels::Yuy2ToArgbRow_C(row, want.data(), w, false);
      } else {
        converter.Yuy2RowToRgb32(want.data(), row, w);
      }
      ASSERT_EQ(0, std::memcmp(out.data() + std::size_t(h - 1 - r) * w, want.data(), w * 4))
          << "source row " << r << (fast ? " fast" : " scalar");
    }
  }
}

// Every width up to 67 with buffers that end at an inaccessible page: the
// source holds (width / 2) groups per row and the destination 4 * width bytes
// per row, nothing more. An odd width's last pixel has no source of its own
// and repeats its neighbour.
TEST(Yuy2ToRgb32, StaysInsideItsBuffersAtEveryWidth) {
  const PixelConverter converter;
  const int h = 3;
  for (const bool fast : {false, true}) {
    if (fast && !FastPathAvailable()) {
      continue;
    }
    const ScopedPath path(fast);
    for (int w = 1; w <= 67; ++w) {
      const std::size_t src_row = std::size_t(w / 2) * 4;
      GuardedBuffer src(std::max<std::size_t>(src_row * h, 1));
      GuardedBuffer dst(std::size_t(w) * 4 * h);
      ASSERT_NE(src.data(), nullptr);
      ASSERT_NE(dst.data(), nullptr);
      const std::vector<std::uint8_t> bytes = RandomBytes(src.size(), 7u * w);
      std::memcpy(src.data(), bytes.data(), bytes.size());
      VideoFrame frame{dst.data(), w * 4, w, h, 0};
      converter.Yuy2ToRgb32(src.data(), frame);
      const int fast_width = fast ? w & ~7 : 0;
      std::vector<std::uint32_t> want(std::size_t(w) + 1);
      for (int r = 0; r < h; ++r) {
        const std::uint8_t* row = src.data() + src_row * r;
        pixel_kernels::Yuy2ToArgbRow_C(row, want.data(), fast_width, false);
        converter.Yuy2RowToRgb32(want.data() + fast_width, row + 2 * fast_width,
                                 (w & ~1) - fast_width);
        if (w % 2 == 1) {
          want[w - 1] = w > 1 ? want[w - 2] : 0xFF000000u;
        }
        for (int x = 0; x < w; ++x) {
          ASSERT_EQ(PixelAt(frame, x, h - 1 - r), want[x])
              << "width " << w << " row " << r << " pixel " << x << (fast ? " fast" : "");
        }
      }
    }
  }
}

TEST(Yuy2ToRgb32, IgnoresAnEmptyPicture) {
  const PixelConverter converter;
  std::uint32_t out = 7;
  const std::uint8_t src[4] = {};
  VideoFrame none{reinterpret_cast<std::uint8_t*>(&out), 4, 0, 1, 0};
  converter.Yuy2ToRgb32(src, none);
  VideoFrame flat{reinterpret_cast<std::uint8_t*>(&out), 4, 2, 0, 0};
  converter.Yuy2ToRgb32(src, flat);
  VideoFrame no_pixels{nullptr, 4, 2, 1, 0};
  converter.Yuy2ToRgb32(src, no_pixels);
  EXPECT_EQ(out, 7u);
}

// ---------------------------------------------------------------------------
// The path choice

TEST(CpuMask, HidesTheNamedFeaturesAndTheWiderOnes) {
  using namespace pixel_kernels;
  EXPECT_EQ(ParseCpuMask(nullptr), 0u);
  EXPECT_EQ(ParseCpuMask("avx2,avx512bw"), unsigned{kCpuAvx2 | kCpuAvx512Bw});
  EXPECT_EQ(ParseCpuMask("all") & kCpuSse2, unsigned{kCpuSse2});
  MaskCpuFeatures(kCpuAvx2);
  EXPECT_FALSE(CpuHas(kCpuAvx512Bw));
  EXPECT_FALSE(CpuHas(kCpuAvx512F));
  MaskCpuFeatures(0);
}

// ---------------------------------------------------------------------------
// Scaling

// A picture whose every pixel names its own column and row.
struct Picture {
  int width, height;
  std::vector<std::uint32_t> pixels;
  Picture(int w, int h) : width(w), height(h), pixels(std::size_t(w) * h) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        pixels[std::size_t(y) * w + x] = Pixel(x, y);
      }
    }
  }
  static std::uint32_t Pixel(int x, int y) { return std::uint32_t(y) << 16 | std::uint32_t(x); }
  VideoFrame frame() {
    return {reinterpret_cast<std::uint8_t*>(pixels.data()), width * 4, width, height, 0};
  }
};

// The picks as the scaler defines them: 16.16 accumulators with steps of
// (source * 65536) / destination + 1, an index past the end taking the last.
std::vector<int> Picks(int from, int to) {
  const std::int64_t step = (std::int64_t{from} << 16) / to + 1;
  std::vector<int> picks;
  std::int64_t acc = 0;
  for (int i = 0; i < to; ++i, acc += step) {
    picks.push_back(static_cast<int>(std::min<std::int64_t>(acc >> 16, from - 1)));
  }
  return picks;
}

void ExpectScaled(const Picture& from, const Picture& to) {
  const std::vector<int> columns = Picks(from.width, to.width);
  const std::vector<int> rows = Picks(from.height, to.height);
  for (int y = 0; y < to.height; ++y) {
    for (int x = 0; x < to.width; ++x) {
      ASSERT_EQ(to.pixels[std::size_t(y) * to.width + x], Picture::Pixel(columns[x], rows[y]))
          << from.width << "x" << from.height << " -> " << to.width << "x" << to.height << " at "
          << x << "," << y;
    }
  }
}

TEST(ScaleNearest, Picks320To176ColumnsEvery1Point818th) {
  const std::vector<int> columns = Picks(320, 176);
  const std::vector<int> head(columns.begin(), columns.begin() + 7);
  EXPECT_EQ(head, (std::vector<int>{0, 1, 3, 5, 7, 9, 10}));
  Picture from(320, 240), to(176, 144);
  VideoFrame dst = to.frame();
  PixelConverter().ScaleNearest(dst, from.frame());
  ExpectScaled(from, to);
  EXPECT_EQ(to.pixels[6], Picture::Pixel(10, 0));
}

TEST(ScaleNearest, DoublesIntoTwoByTwoBlocks) {
  Picture from(176, 144), to(352, 288);
  VideoFrame dst = to.frame();
  PixelConverter().ScaleNearest(dst, from.frame());
  for (int y = 0; y < 288; ++y) {
    for (int x = 0; x < 352; ++x) {
      ASSERT_EQ(to.pixels[std::size_t(y) * 352 + x], Picture::Pixel(x / 2, y / 2)) << x << "," << y;
    }
  }
}

TEST(ScaleNearest, HalvesByTakingEverySecondPixelOfEverySecondRow) {
  Picture from(352, 288), to(176, 144);
  VideoFrame dst = to.frame();
  PixelConverter().ScaleNearest(dst, from.frame());
  for (int y = 0; y < 144; ++y) {
    for (int x = 0; x < 176; ++x) {
      ASSERT_EQ(to.pixels[std::size_t(y) * 176 + x], Picture::Pixel(2 * x, 2 * y)) << x << "," << y;
    }
  }
}

// From 3440 destination columns for 176 source columns (3073 rows for 144)
// the last picks land past the source; they take its last column or row, and
// nothing reads past the source picture, which ends at an inaccessible page.
TEST(ScaleNearest, FarEnlargingNeverReadsPastTheSource) {
  for (const auto& [w, h] : {std::pair{3440, 2}, std::pair{3500, 3}, std::pair{4000, 3080}}) {
    Picture from(176, 144);
    GuardedBuffer src(from.pixels.size() * 4);
    ASSERT_NE(src.data(), nullptr);
    std::memcpy(src.data(), from.pixels.data(), src.size());
    Picture to(w, h);
    VideoFrame dst = to.frame();
    PixelConverter().ScaleNearest(dst, VideoFrame{src.data(), 176 * 4, 176, 144, 0});
    ExpectScaled(from, to);
    EXPECT_EQ(to.pixels[std::size_t(w) - 1] & 0xFFFF, 175u);
  }
  // Where the unclamped picks first pass the end.
  const auto last_raw = [](int from, int to) {
    return (to - 1) * ((std::int64_t{from} << 16) / to + 1) >> 16;
  };
  EXPECT_EQ(last_raw(176, 3439), 175);
  EXPECT_EQ(last_raw(176, 3440), 176);
  EXPECT_EQ(last_raw(144, 3072), 143);
  EXPECT_EQ(last_raw(144, 3073), 144);
}

// Sizes whose 16.16 steps do not fit 32 bits: a 40000-pixel-wide source.
TEST(ScaleNearest, KeepsStepsOfLargePicturesExact) {
  Picture from(40000, 2), to(100, 1);
  VideoFrame dst = to.frame();
  PixelConverter().ScaleNearest(dst, from.frame());
  ExpectScaled(from, to);
  EXPECT_EQ(to.pixels[99] & 0xFFFF, 39600u);
}

// Random sizes, shrinking and enlarging, wider than one planning band too;
// a destination stride wider than its rows keeps the padding untouched.
TEST(ScaleNearest, MatchesTheDefinitionForRandomSizes) {
  std::mt19937 rng(5);
  for (int i = 0; i < 60; ++i) {
    const int sw = 1 + int(rng() % 700), sh = 1 + int(rng() % 60);
    const int dw = 1 + int(rng() % (i % 10 == 0 ? 2600 : 700)), dh = 1 + int(rng() % 60);
    Picture from(sw, sh), to(dw + 3, dh);
    std::fill(to.pixels.begin(), to.pixels.end(), 0xDEADBEEFu);
    VideoFrame dst{reinterpret_cast<std::uint8_t*>(to.pixels.data()), (dw + 3) * 4, dw, dh, 0};
    PixelConverter().ScaleNearest(dst, from.frame());
    const std::vector<int> columns = Picks(sw, dw), rows = Picks(sh, dh);
    for (int y = 0; y < dh; ++y) {
      for (int x = 0; x < dw + 3; ++x) {
        const std::uint32_t want = x < dw ? Picture::Pixel(columns[x], rows[y]) : 0xDEADBEEFu;
        ASSERT_EQ(to.pixels[std::size_t(y) * (dw + 3) + x], want)
            << sw << "x" << sh << " -> " << dw << "x" << dh << " at " << x << "," << y;
      }
    }
  }
}

// Destinations at every place in a cache line, with rows a whole number of
// lines apart (where the scaler shifts its stores onto line boundaries) and
// not: the pixels around the picture stay untouched.
TEST(ScaleNearest, WritesOnlyItsOwnPixelsWhereverItsRowsStart) {
  for (const auto& [sw, dw] :
       {std::pair{176, 352}, std::pair{352, 176}, std::pair{640, 176}, std::pair{100, 333}}) {
    for (const int pad : {0, 3}) {
      for (int shift = 0; shift < 16; ++shift) {
        Picture from(sw, 9);
        const int stride = (dw + 15) / 16 * 16 + pad;  // pixels
        const int dh = 13;
        std::vector<std::uint32_t> buffer(std::size_t(stride) * dh + 64, 0xDEADBEEFu);
        // Align the buffer's use to a cache line, then shift.
        const auto address = reinterpret_cast<std::uintptr_t>(buffer.data());
        const std::size_t first = (64 - address % 64) % 64 / 4 + std::size_t(shift);
        VideoFrame dst{reinterpret_cast<std::uint8_t*>(buffer.data() + first), stride * 4, dw, dh,
                       0};
        PixelConverter().ScaleNearest(dst, from.frame());
        const std::vector<int> columns = Picks(sw, dw), rows = Picks(9, dh);
        for (std::size_t i = 0; i < buffer.size(); ++i) {
          const std::ptrdiff_t at = std::ptrdiff_t(i) - std::ptrdiff_t(first);
          const std::ptrdiff_t y = at >= 0 ? at / stride : -1, x = at >= 0 ? at % stride : -1;
          const bool inside = y >= 0 && y < dh && x < dw;
          const std::uint32_t want = inside ? Picture::Pixel(columns[x], rows[y]) : 0xDEADBEEFu;
          ASSERT_EQ(buffer[i], want) << sw << " -> " << dw << " shift " << shift << " pad " << pad
                                     << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST(ScaleNearest, DoesNothingWithAZeroDimension) {
  Picture from(4, 4), to(4, 4);
  std::fill(to.pixels.begin(), to.pixels.end(), 9u);
  const PixelConverter converter;
  for (const auto& [dw, dh, sw, sh] : {std::array{0, 4, 4, 4}, std::array{4, 0, 4, 4},
                                       std::array{4, 4, 0, 4}, std::array{4, 4, 4, 0}}) {
    VideoFrame dst{reinterpret_cast<std::uint8_t*>(to.pixels.data()), 16, dw, dh, 0};
    converter.ScaleNearest(
        dst, VideoFrame{reinterpret_cast<std::uint8_t*>(from.pixels.data()), 16, sw, sh, 0});
  }
  EXPECT_TRUE(std::all_of(to.pixels.begin(), to.pixels.end(), [](auto p) { return p == 9u; }));
}

}  // namespace
