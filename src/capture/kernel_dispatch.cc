// The processor's instruction sets and the kernels chosen from them, once per
// process.
#include <atomic>

#include "capture/cpu_features.h"
#include "capture/scale_row.h"
#include "capture/yuy2_row.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace pixel_kernels {

#if defined(__x86_64__)

// The first choice runs during static initialization, possibly before the
// runtime has read the processor's features, so ask for them first. The
// answers include the operating system's support for the wider registers.
bool CpuHasSse2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse2");
}

bool CpuHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

bool CpuHasAvx512F() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f");
}

bool CpuHasAvx512Bw() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512bw");
}

namespace {

struct Yuy2Choice {
  Yuy2RowFn fn;
  const char* name;
};

Yuy2Choice ChooseYuy2() {
  if (CpuHasAvx512Bw()) {
    return {Yuy2ToArgbRow_AVX512BW, "avx512bw"};
  }
  if (CpuHasAvx2()) {
    return {Yuy2ToArgbRow_AVX2, "avx2"};
  }
  if (CpuHasSse2()) {
    return {Yuy2ToArgbRow_SSE2, "sse2"};
  }
  return {Yuy2ToArgbRow_C, "c"};
}

const Yuy2Choice& ChosenYuy2() {
  static const Yuy2Choice choice = ChooseYuy2();
  return choice;
}

}  // namespace

Yuy2RowFn BestYuy2Row() {
  return ChosenYuy2().fn;
}
const char* BestYuy2RowName() {
  return ChosenYuy2().name;
}
void StreamFence() {
  _mm_sfence();
}

ScaleFn BestScale() {
  static const ScaleFn fn = CpuHasAvx512F() ? Scale_AVX512 : nullptr;
  return fn;
}

#else

bool CpuHasSse2() {
  return false;
}
bool CpuHasAvx2() {
  return false;
}
bool CpuHasAvx512F() {
  return false;
}
bool CpuHasAvx512Bw() {
  return false;
}
Yuy2RowFn BestYuy2Row() {
  return Yuy2ToArgbRow_C;
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
