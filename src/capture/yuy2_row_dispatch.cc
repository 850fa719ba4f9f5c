// The processor's instruction sets and the kernel chosen from them, once.
#include <atomic>

#include "capture/yuy2_row.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace pixel_kernels {

#if defined(__x86_64__)

// __builtin_cpu_supports may run before the runtime's own start-up code has
// read the processor's features (this runs during static initialization), so
// ask for them first. The answers include the operating system's support for
// the wider registers.
bool CpuHasSse2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse2");
}

bool CpuHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

bool CpuHasAvx512Bw() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512bw");
}

namespace {

struct Choice {
  Yuy2RowFn fn;
  const char* name;
};

Choice Choose() {
  if (CpuHasAvx512Bw()) return {Yuy2ToArgbRow_AVX512BW, "avx512bw"};
  if (CpuHasAvx2()) return {Yuy2ToArgbRow_AVX2, "avx2"};
  if (CpuHasSse2()) return {Yuy2ToArgbRow_SSE2, "sse2"};
  return {Yuy2ToArgbRow_C, "c"};
}

const Choice& Chosen() {
  static const Choice choice = Choose();
  return choice;
}

}  // namespace

Yuy2RowFn BestYuy2Row() { return Chosen().fn; }
const char* BestYuy2RowName() { return Chosen().name; }
void StreamFence() { _mm_sfence(); }

#else

bool CpuHasSse2() { return false; }
bool CpuHasAvx2() { return false; }
bool CpuHasAvx512Bw() { return false; }
Yuy2RowFn BestYuy2Row() { return Yuy2ToArgbRow_C; }
const char* BestYuy2RowName() { return "c"; }
void StreamFence() { std::atomic_thread_fence(std::memory_order_release); }

#endif

}  // namespace pixel_kernels
