// Each vector kernel of the YUY2 fast path, called directly, against the
// plain C statement of the same arithmetic, byte for byte.
#include "pixel/yuy2_row.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "pixel/cpu_features.h"

namespace {

using namespace pixel_kernels;

// Rows of 312 pixels (four 64-pixel steps and a rest of 56): Y runs through
// 0..255, a row per V and a frame per U, so every Y, U and V meets every other.
// The rows go bottom-up into lines of 1280 bytes on cache lines, every other
// frame with streaming stores; the bytes between the rows stay untouched.
TEST(Yuy2Kernels, MatchTheReferenceForEveryYuvValue) {
#if !defined(__x86_64__)
  GTEST_SKIP() << "no vector kernels";
#else
  const std::pair<CpuFeature, Yuy2RowsFn> kernels[] = {{kCpuSse2, Yuy2ToArgbRows_SSE2},
                                                       {kCpuAvx2, Yuy2ToArgbRows_AVX2},
                                                       {kCpuAvx512Bw, Yuy2ToArgbRows_AVX512BW}};
  constexpr int kWidth = 312, kHeight = 256;
  constexpr std::ptrdiff_t kLine = 1280;
  std::vector<std::uint8_t> src(std::size_t{kWidth} * 2 * kHeight);
  for (std::size_t g = 0; g < src.size() / 4; ++g) {
    src[4 * g] = static_cast<std::uint8_t>(2 * (g % (kWidth / 2)));
    src[4 * g + 2] = static_cast<std::uint8_t>(src[4 * g] + 1);
    src[4 * g + 3] = static_cast<std::uint8_t>(g / (kWidth / 2));
  }
  std::vector<std::uint8_t> memory(kLine * kHeight + 64);
  std::uint8_t* dst = memory.data() + (64 - reinterpret_cast<std::uintptr_t>(memory.data()) % 64);
  std::uint8_t* last = dst + (kHeight - 1) * kLine;
  std::vector<std::uint32_t> want(std::size_t{kWidth} * kHeight);
  for (int u = 0; u < 256; ++u) {
    for (std::size_t g = 0; g < src.size() / 4; ++g)
      src[4 * g + 1] = static_cast<std::uint8_t>(u);
    for (int v = 0; v < kHeight; ++v)
      Yuy2ToArgbRow_C(&src[std::size_t(v) * kWidth * 2], &want[std::size_t(v) * kWidth], kWidth);
    for (const auto& [feature, kernel] : kernels) {
      if (!CpuHas(feature))
        continue;
      std::fill(memory.begin(), memory.end(), 0x5A);
      kernel({src.data(), kWidth * 2, last, -kLine, kWidth, kHeight, u % 2 == 1});
      for (int v = 0; v < kHeight; ++v) {
        const std::uint8_t* row = last - v * kLine;
        ASSERT_EQ(0, std::memcmp(row, &want[std::size_t(v) * kWidth], kWidth * 4))
            << "kernel " << feature << " U " << u << " V " << v;
        ASSERT_TRUE(std::all_of(row + kWidth * 4, row + kLine, [](auto b) { return b == 0x5A; }))
            << "kernel " << feature << " wrote past row V " << v;
      }
    }
  }
#endif
}

}  // namespace
