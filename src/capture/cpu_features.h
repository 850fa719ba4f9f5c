// The instruction sets this processor and operating system run; all false off
// x86-64.
#pragma once

namespace pixel_kernels {

bool CpuHasSse2();
bool CpuHasAvx2();
bool CpuHasAvx512F();
bool CpuHasAvx512Bw();

}  // namespace pixel_kernels
