// The vector kernels of the YUY2 fast path against the plain C statement of
// the same arithmetic, byte for byte.
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pixel/cpu_features.h"
#include "pixel/yuy2_row.h"
#include "guarded_buffer.h"

namespace {

using pixel_kernels::Yuy2RowFn;

struct Kernel {
  const char* name;
  Yuy2RowFn fn;
  pixel_kernels::CpuFeature feature;
};

std::vector<Kernel> Kernels() {
#if defined(__x86_64__)
  return {{"sse2", pixel_kernels::Yuy2ToArgbRow_SSE2, pixel_kernels::kCpuSse2},
          {"avx2", pixel_kernels::Yuy2ToArgbRow_AVX2, pixel_kernels::kCpuAvx2},
          {"avx512bw", pixel_kernels::Yuy2ToArgbRow_AVX512BW, pixel_kernels::kCpuAvx512Bw}};
#else
  return {};
#endif
}

std::string KernelName(const testing::TestParamInfo<Kernel>& info) {
  return info.param.name;
}

std::vector<std::uint8_t> RandomBytes(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<std::uint8_t> bytes(n);
  for (auto& b : bytes) {
    b = static_cast<std::uint8_t>(rng());
  }
  return bytes;
}

// One row's pixels from the reference, for `width` (a multiple of 8) pixels.
std::vector<std::uint32_t> Reference(const std::uint8_t* src, int width) {
  std::vector<std::uint32_t> out(static_cast<std::size_t>(width));
  pixel_kernels::Yuy2ToArgbRow_C(src, out.data(), width, false);
  return out;
}

class Yuy2KernelTest : public testing::TestWithParam<Kernel> {
 protected:
  void SetUp() override {
    if (!pixel_kernels::CpuHas(GetParam().feature)) {
      GTEST_SKIP() << GetParam().name << " not on this processor";
    }
  }

  // Runs the kernel both with and without streaming stores and compares each
  // result with the reference.
  void ExpectMatches(const std::uint8_t* src, std::uint32_t* dst, int width) {
    const std::vector<std::uint32_t> want = Reference(src, width);
    for (const bool stream : {false, true}) {
      std::fill(dst, dst + width, 0x12345678u);
      GetParam().fn(src, dst, width, stream);
      if (stream) {
        pixel_kernels::StreamFence();
      }
      for (int i = 0; i < width; ++i) {
        ASSERT_EQ(dst[i], want[static_cast<std::size_t>(i)])
            << "pixel " << i << " of " << width << (stream ? " streamed" : "");
      }
    }
  }
};

// Random pictures of every width up to 67: the vector part covers the width
// rounded down to 8, the rest belongs to the scalar routine.
TEST_P(Yuy2KernelTest, MatchesReferenceOnRandomRowsOfEveryWidth) {
  for (int width = 1; width <= 67; ++width) {
    const int fast = width & ~7;
    if (fast == 0) {
      continue;
    }
    const std::vector<std::uint8_t> src = RandomBytes(std::size_t(width) * 2, 1000u + width);
    std::vector<std::uint32_t> dst(static_cast<std::size_t>(fast));
    ExpectMatches(src.data(), dst.data(), fast);
  }
}

// Sources at any byte, destinations at any 32-bit word of a cache line, so
// that kernels which convert a few pixels apart to reach a line boundary do
// so for every distance.
TEST_P(Yuy2KernelTest, MatchesReferenceOnUnalignedPointers) {
  const std::vector<std::uint8_t> bytes = RandomBytes(2 * 200 + 64, 7);
  std::vector<std::uint32_t> dst(200 + 32);
  for (const int width : {8, 16, 40, 64, 88, 136, 192}) {
    for (int src_offset = 0; src_offset < 4; ++src_offset) {
      for (int dst_offset = 0; dst_offset < 16; ++dst_offset) {
        std::fill(dst.begin(), dst.end(), 0xA5A5A5A5u);
        ExpectMatches(bytes.data() + src_offset, dst.data() + dst_offset, width);
        for (int i = 0; i < static_cast<int>(dst.size()); ++i) {
          if (i < dst_offset || i >= dst_offset + width) {
            ASSERT_EQ(dst[i], 0xA5A5A5A5u) << "word " << i << " written, width " << width;
          }
        }
      }
    }
  }
}

// Source and destination end right before an inaccessible page, for every
// width up to 67 and with long rows: no vector load or store reaches it.
TEST_P(Yuy2KernelTest, StaysInsideBuffersThatEndAtAPage) {
  for (int width = 8; width <= 67 + 200; width += 8) {
    GuardedBuffer src(std::size_t(width) * 2);
    GuardedBuffer dst(std::size_t(width) * 4);
    ASSERT_NE(src.data(), nullptr);
    ASSERT_NE(dst.data(), nullptr);
    const std::vector<std::uint8_t> bytes = RandomBytes(src.size(), 99u + width);
    std::memcpy(src.data(), bytes.data(), bytes.size());
    ExpectMatches(src.data(), reinterpret_cast<std::uint32_t*>(dst.data()), width);
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, Yuy2KernelTest, testing::ValuesIn(Kernels()), KernelName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Yuy2KernelTest);

// Every Y with every U and V, 256 x 256 x 256 values in rows of 512 pixels
// (each row holds all Y values twice against one U, V pair), through every
// kernel this processor runs.
TEST(Yuy2FastPath, EveryKernelMatchesTheReferenceOverTheFullRange) {
  constexpr int kWidth = 512;
  std::vector<std::uint8_t> src(kWidth * 2);
  std::vector<std::uint32_t> want(kWidth), got(kWidth);
  std::vector<Kernel> kernels;
  for (const Kernel& k : Kernels()) {
    if (pixel_kernels::CpuHas(k.feature)) {
      kernels.push_back(k);
    }
  }
  for (int u = 0; u < 256; ++u) {
    for (int v = 0; v < 256; ++v) {
      for (int g = 0; g < kWidth / 2; ++g) {
        src[4 * g] = static_cast<std::uint8_t>(2 * g);
        src[4 * g + 1] = static_cast<std::uint8_t>(u);
        src[4 * g + 2] = static_cast<std::uint8_t>(2 * g + 1);
        src[4 * g + 3] = static_cast<std::uint8_t>(v);
      }
      pixel_kernels::Yuy2ToArgbRow_C(src.data(), want.data(), kWidth, false);
      for (const Kernel& k : kernels) {
        k.fn(src.data(), got.data(), kWidth, false);
        ASSERT_EQ(0, std::memcmp(want.data(), got.data(), kWidth * 4))
            << k.name << " U " << u << " V " << v;
      }
    }
  }
}

// The fast path's own values, from the reference and from the kernel this
// processor runs.
TEST(Yuy2FastPath, GivesTheFastPathValues) {
  struct Case {
    std::uint8_t y, u, v;
    std::uint32_t want;
  };
  const Case cases[] = {{16, 128, 128, 0xFF000000u},
                        {126, 128, 128, 0xFF808080u},
                        {235, 128, 128, 0xFFFFFFFFu},
                        {81, 90, 240, 0xFFFD0000u}};
  for (const Yuy2RowFn fn :
       {Yuy2RowFn{pixel_kernels::Yuy2ToArgbRow_C}, pixel_kernels::BestYuy2Row()}) {
    for (const Case& c : cases) {
      std::uint8_t src[16];
      for (int g = 0; g < 4; ++g) {
        src[4 * g] = src[4 * g + 2] = c.y;
        src[4 * g + 1] = c.u;
        src[4 * g + 3] = c.v;
      }
      std::uint32_t dst[8] = {};
      fn(src, dst, 8, false);
      for (const std::uint32_t pixel : dst) {
        EXPECT_EQ(pixel, c.want) << "Y " << int{c.y} << " U " << int{c.u} << " V " << int{c.v};
      }
    }
  }
}

TEST(Yuy2FastPath, ChoosesTheWidestKernelOfThisProcessor) {
  const std::string name = pixel_kernels::BestYuy2RowName();
  if (pixel_kernels::CpuHas(pixel_kernels::kCpuAvx512Bw)) {
    EXPECT_EQ(name, "avx512bw");
  } else if (pixel_kernels::CpuHas(pixel_kernels::kCpuAvx2)) {
    EXPECT_EQ(name, "avx2");
  } else if (pixel_kernels::CpuHas(pixel_kernels::kCpuSse2)) {
    EXPECT_EQ(name, "sse2");
  } else {
    EXPECT_EQ(name, "c");
  }
}

}  // namespace
