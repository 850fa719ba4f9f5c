// Row kernels of the YUY2 fast path, one per instruction set, and the choice
// among them. Every kernel computes exactly what Yuy2ToArgbRow_C computes; the
// vector ones only do it wider.
#pragma once

#include <cstdint>

namespace pixel_kernels {

// Converts `width` pixels (a multiple of 8) of one YUY2 row to 0xFFRRGGBB
// words with the fast path's 16-bit arithmetic. Reads width * 2 bytes, writes
// width * 4 bytes. `stream` asks for stores that bypass the cache (a kernel
// may ignore it for a destination it cannot stream to).
using Yuy2RowFn = void (*)(const std::uint8_t* src, std::uint32_t* dst, int width, bool stream);

// The plain C statement of the fast path; the reference of the others.
void Yuy2ToArgbRow_C(const std::uint8_t* src, std::uint32_t* dst, int width, bool stream);

#if defined(__x86_64__)
void Yuy2ToArgbRow_SSE2(const std::uint8_t* src, std::uint32_t* dst, int width, bool stream);
void Yuy2ToArgbRow_AVX2(const std::uint8_t* src, std::uint32_t* dst, int width, bool stream);
void Yuy2ToArgbRow_AVX512BW(const std::uint8_t* src, std::uint32_t* dst, int width, bool stream);
#endif

// The widest vector kernel the allowed features run, or nullptr: then the
// converter takes its scalar path, whose arithmetic is the exact one.
Yuy2RowFn BestYuy2Row();

// Names the kernel BestYuy2Row returns ("avx512bw", "avx2", "sse2", "c").
const char* BestYuy2RowName();

// Finishes a run of streaming stores: later loads by other code see them.
void StreamFence();

}  // namespace pixel_kernels
