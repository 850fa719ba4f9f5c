// Kernels of the YUY2 fast path, one per instruction set, and the choice
// among them. Every kernel computes exactly what Yuy2ToArgbRow_C computes; the
// vector ones only do it wider.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pixel_kernels {

// A frame's worth of rows for one call, so that a kernel sets up its constants
// and masks once and keeps its pipeline full from one row into the next.
struct Yuy2Rows {
  const std::uint8_t* src;    // the first source row
  std::ptrdiff_t src_stride;  // bytes from one source row to the next
  std::uint8_t* dst;          // where the first source row's pixels go
  std::ptrdiff_t dst_stride;  // bytes to the next row's pixels; negative turns the rows over
  int width;                  // pixels per row, a multiple of 8
  int height;
  // Stores that bypass the cache, for frames the cache cannot keep anyway; a
  // kernel may ignore it, and fences its streaming stores before it returns.
  bool stream;
};

using Yuy2RowsFn = void (*)(const Yuy2Rows& rows);

// The plain C statement of the fast path, one row of `width` pixels (an odd
// width leaves the last pixel unwritten); the reference of the others.
void Yuy2ToArgbRow_C(const std::uint8_t* src, std::uint32_t* dst, int width);

#if defined(__x86_64__)
void Yuy2ToArgbRows_SSE2(const Yuy2Rows& rows);
void Yuy2ToArgbRows_AVX2(const Yuy2Rows& rows);
void Yuy2ToArgbRows_AVX512BW(const Yuy2Rows& rows);
#endif

// The widest vector kernel the allowed features run, or nullptr: then the
// converter takes its scalar path, whose arithmetic is the exact one.
Yuy2RowsFn BestYuy2Rows();

// Names the kernel BestYuy2Rows returns ("avx512bw", "avx2", "sse2", "c").
const char* BestYuy2RowsName();

}  // namespace pixel_kernels
