#include "pixel/cpu_features.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace pixel_kernels {
namespace {

unsigned ProcessorFeatures() {
  unsigned features = 0;
#if defined(__x86_64__)
  // The first question may come during static initialization, before the
  // runtime has read the processor; the answers include the operating
  // system's support for the wider registers.
  __builtin_cpu_init();
  if (__builtin_cpu_supports("sse2"))
    features |= kCpuSse2;
  if (__builtin_cpu_supports("avx2"))
    features |= kCpuAvx2;
  if (__builtin_cpu_supports("avx512f"))
    features |= kCpuAvx512F;
  if (__builtin_cpu_supports("avx512bw"))
    features |= kCpuAvx512Bw;
#endif
  return features;
}

// Each feature with the narrower ones its kernels build on.
unsigned WithPrerequisitesHidden(unsigned features) {
  if (!(features & kCpuSse2))
    features &= ~(kCpuAvx2 | kCpuAvx512F | kCpuAvx512Bw);
  if (!(features & kCpuAvx2))
    features &= ~(kCpuAvx512F | kCpuAvx512Bw);
  if (!(features & kCpuAvx512F))
    features &= ~kCpuAvx512Bw;
  return features;
}

constexpr unsigned kAll = kCpuSse2 | kCpuAvx2 | kCpuAvx512F | kCpuAvx512Bw;
// No mask can hold bits outside kAll, so this one means "not read yet".
constexpr unsigned kUnset = ~0u;
std::atomic<unsigned> g_mask{kUnset};

unsigned Mask() {
  unsigned mask = g_mask.load(std::memory_order_relaxed);
  if (mask == kUnset) {
    mask = ParseCpuMask(std::getenv(kCpuMaskVariable));
    unsigned expected = kUnset;
    // A mask set by MaskCpuFeatures meanwhile wins over the environment's.
    if (!g_mask.compare_exchange_strong(expected, mask, std::memory_order_relaxed))
      mask = expected;
  }
  return mask;
}

}  // namespace

unsigned ParseCpuMask(const char* text) {
  if (text == nullptr)
    return 0;
  unsigned mask = 0;
  std::string_view rest(text);
  while (!rest.empty()) {
    const std::size_t comma = rest.find(',');
    const std::string_view name = rest.substr(0, comma);
    if (name == "all")
      mask |= kAll;
    else if (name == "sse2")
      mask |= kCpuSse2;
    else if (name == "avx2")
      mask |= kCpuAvx2;
    else if (name == "avx512f")
      mask |= kCpuAvx512F;
    else if (name == "avx512bw")
      mask |= kCpuAvx512Bw;
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  }
  return mask;
}

unsigned CpuFeatures() {
  static const unsigned processor = ProcessorFeatures();
  return WithPrerequisitesHidden(processor & ~Mask());
}

bool CpuHas(CpuFeature feature) {
  return (CpuFeatures() & feature) != 0;
}

void MaskCpuFeatures(unsigned mask) {
  g_mask.store(mask & kAll, std::memory_order_relaxed);
}

}  // namespace pixel_kernels
