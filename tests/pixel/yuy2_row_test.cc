// Each vector kernel of the YUY2 fast path, called directly, against the
// plain C statement of the same arithmetic, byte for byte.
#include "pixel/yuy2_row.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pixel/cpu_features.h"

namespace {

using namespace pixel_kernels;

struct Kernel {
  const char* name;
  Yuy2RowsFn fn;
  CpuFeature feature;
};

std::vector<Kernel> Kernels() {
#if defined(__x86_64__)
  return {{"sse2", Yuy2ToArgbRows_SSE2, kCpuSse2},
          {"avx2", Yuy2ToArgbRows_AVX2, kCpuAvx2},
          {"avx512bw", Yuy2ToArgbRows_AVX512BW, kCpuAvx512Bw}};
#else
  return {};
#endif
}

class Yuy2Kernel : public testing::TestWithParam<Kernel> {};

// Rows of 312 pixels (four 64-pixel steps and a rest of 56) whose groups run
// Y through 0..255, a row per V and a frame per U, so every Y, U and V value
// meets every other. The rows go bottom-up into lines of 1280 bytes that start
// on cache lines, every other frame with streaming stores; the bytes between
// the rows must stay untouched.
TEST_P(Yuy2Kernel, MatchesTheReferenceForEveryYuvValue) {
  const Kernel& kernel = GetParam();
  if (!CpuHas(kernel.feature)) {
    GTEST_SKIP() << kernel.name << " not on this processor";
  }
  constexpr int kWidth = 312, kHeight = 256;
  constexpr std::ptrdiff_t kLine = 1280;
  std::vector<std::uint8_t> src(std::size_t{kWidth} * 2 * kHeight);
  std::vector<std::uint8_t> memory(kLine * kHeight + 64);
  std::uint8_t* dst = memory.data() + (64 - reinterpret_cast<std::uintptr_t>(memory.data()) % 64);
  std::uint8_t* last = dst + (kHeight - 1) * kLine;
  std::vector<std::uint32_t> want(kWidth);
  for (int u = 0; u < 256; ++u) {
    for (std::size_t g = 0; g < src.size() / 4; ++g) {
      const auto y = static_cast<std::uint8_t>(2 * (g % (kWidth / 2)));
      const auto v = static_cast<std::uint8_t>(g / (kWidth / 2));
      const std::uint8_t group[4] = {y, static_cast<std::uint8_t>(u), std::uint8_t(y + 1), v};
      std::memcpy(&src[4 * g], group, 4);
    }
    std::fill(memory.begin(), memory.end(), 0x5A);
    kernel.fn({src.data(), kWidth * 2, last, -kLine, kWidth, kHeight, u % 2 == 1});
    for (int v = 0; v < kHeight; ++v) {
      Yuy2ToArgbRow_C(&src[std::size_t(v) * kWidth * 2], want.data(), kWidth);
      const std::uint8_t* row = last - v * kLine;
      ASSERT_EQ(0, std::memcmp(row, want.data(), kWidth * 4)) << "U " << u << " V " << v;
      ASSERT_TRUE(std::all_of(row + kWidth * 4, row + kLine, [](auto b) { return b == 0x5A; }))
          << "written past row V " << v;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Kernels, Yuy2Kernel, testing::ValuesIn(Kernels()),
                         [](const auto& info) { return std::string(info.param.name); });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Yuy2Kernel);

}  // namespace
