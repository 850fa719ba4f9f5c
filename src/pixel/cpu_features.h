// The instruction sets the pixel kernels may use: what this processor and
// operating system run, less what the mask hides. Conversion and scaling both
// ask here, so one mask sends every public routine down the path it names.
#pragma once

namespace pixel_kernels {

enum CpuFeature : unsigned {
  kCpuSse2 = 1u << 0,
  kCpuAvx2 = 1u << 1,
  kCpuAvx512F = 1u << 2,
  kCpuAvx512Bw = 1u << 3,
};

// The environment variable read once, at the first question: a comma list of
// feature names to hide ("sse2", "avx2", "avx512f", "avx512bw"), or "all".
// Hiding one feature hides the wider ones too, since their kernels assume it.
inline constexpr char kCpuMaskVariable[] = "VIDEOCONF_CPU_MASK";

// The features the kernels may use now; all zero off x86-64.
unsigned CpuFeatures();
bool CpuHas(CpuFeature feature);

// Hides `mask` from now on, in place of the environment's mask; 0 shows
// everything the processor has. For tests and benchmarks, which run every
// path on one machine; not meant to change while frames are converted.
void MaskCpuFeatures(unsigned mask);

// What the environment variable's text hides (exposed for its test).
unsigned ParseCpuMask(const char* text);

}  // namespace pixel_kernels
