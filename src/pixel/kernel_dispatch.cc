// The kernels chosen from the features CpuFeatures() allows. Asked per frame:
// the answer is a few loads and branches, and it follows a changed mask.
#include "pixel/cpu_features.h"
#include "pixel/scale_row.h"
#include "pixel/yuy2_row.h"

namespace pixel_kernels {

#if defined(__x86_64__)

Yuy2RowsFn BestYuy2Rows() {
  const unsigned features = CpuFeatures();
  if (features & kCpuAvx512Bw)
    return Yuy2ToArgbRows_AVX512BW;
  if (features & kCpuAvx2)
    return Yuy2ToArgbRows_AVX2;
  if (features & kCpuSse2)
    return Yuy2ToArgbRows_SSE2;
  return nullptr;
}

const char* BestYuy2RowsName() {
  const unsigned features = CpuFeatures();
  if (features & kCpuAvx512Bw)
    return "avx512bw";
  if (features & kCpuAvx2)
    return "avx2";
  if (features & kCpuSse2)
    return "sse2";
  return "c";
}

ScaleFn BestScale() {
  return CpuHas(kCpuAvx512F) ? Scale_AVX512 : nullptr;
}

#else

Yuy2RowsFn BestYuy2Rows() {
  return nullptr;
}
const char* BestYuy2RowsName() {
  return "c";
}
ScaleFn BestScale() {
  return nullptr;
}

#endif

}  // namespace pixel_kernels
