// The one feature choice that conversion and scaling both follow.
#include "pixel/cpu_features.h"

#include <string>

#include <gtest/gtest.h>

#include "pixel/yuy2_row.h"

namespace {

using namespace pixel_kernels;

TEST(CpuMask, ParsesCommaListsOfFeatureNames) {
  EXPECT_EQ(ParseCpuMask(nullptr), 0u);
  EXPECT_EQ(ParseCpuMask(""), 0u);
  EXPECT_EQ(ParseCpuMask("avx2,avx512bw"), unsigned{kCpuAvx2 | kCpuAvx512Bw});
  EXPECT_EQ(ParseCpuMask("sse2,nonsense,avx512f"), unsigned{kCpuSse2 | kCpuAvx512F});
  EXPECT_EQ(ParseCpuMask("all"), unsigned{kCpuSse2 | kCpuAvx2 | kCpuAvx512F | kCpuAvx512Bw});
}

// Hiding a feature hides the wider ones built on it, and the kernel choice
// follows the mask at once.
TEST(CpuMask, HidesTheWiderFeaturesAndSteersTheKernelChoice) {
  const unsigned all = CpuFeatures();
  MaskCpuFeatures(kCpuAvx2);
  EXPECT_EQ(CpuFeatures() & (kCpuAvx2 | kCpuAvx512F | kCpuAvx512Bw), 0u);
  EXPECT_EQ(CpuHas(kCpuSse2), (all & kCpuSse2) != 0);
  EXPECT_EQ(std::string(BestYuy2RowsName()), CpuHas(kCpuSse2) ? "sse2" : "c");
  MaskCpuFeatures(kCpuSse2);
  EXPECT_EQ(CpuFeatures(), 0u);
  EXPECT_EQ(BestYuy2Rows(), nullptr);
  MaskCpuFeatures(0);
  EXPECT_EQ(CpuFeatures(), all);
}

}  // namespace
