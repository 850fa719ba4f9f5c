// The kernels chosen from the features CpuFeatures() allows. Asked per frame:
// the answer is a few loads and branches, and it follows a changed mask.
#include <atomic>

#include "pixel/cpu_features.h"
#include "pixel/scale_row.h"
#include "pixel/yuy2_row.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace pixel_kernels {

#if defined(__x86_64__)

Yuy2RowFn BestYuy2Row() {
  const unsigned features = CpuFeatures();
  if (features & kCpuAvx512Bw)
    return Yuy2ToArgbRow_AVX512BW;
  if (features & kCpuAvx2)
    return Yuy2ToArgbRow_AVX2;
  if (features & kCpuSse2)
    return Yuy2ToArgbRow_SSE2;
  return nullptr;
}

const char* BestYuy2RowName() {
  const unsigned features = CpuFeatures();
  if (features & kCpuAvx512Bw)
    return "avx512bw";
  if (features & kCpuAvx2)
    return "avx2";
  if (features & kCpuSse2)
    return "sse2";
  return "c";
}

void StreamFence() {
  _mm_sfence();
}

ScaleFn BestScale() {
  return CpuHas(kCpuAvx512F) ? Scale_AVX512 : nullptr;
}

#else

Yuy2RowFn BestYuy2Row() {
  return nullptr;
}
const char* BestYuy2RowName() {
  return "c";
}
void StreamFence() {
  std::atomic_thread_fence(std::memory_order_release);
}
ScaleFn BestScale() {
  return nullptr;
}

#endif

}  // namespace pixel_kernels
