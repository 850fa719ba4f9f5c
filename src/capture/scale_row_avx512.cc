// The nearest-neighbour scaler's row kernel with AVX-512F: 16 destination
// pixels per chunk, by permutation of loaded source pixels where the chunk's
// picks are close together and by gather where they are not. Loads cover only
// source pixels that exist, so the last row never reads past its picture.
// Compiled with -mavx512f; called only where the processor has it.
#include <immintrin.h>

#include "capture/scale_row.h"

namespace pixel_kernels {
namespace {

template <ScaleChunk::Kind kKind>
inline __m512i Pick(const std::uint32_t* src, const ScaleChunk& c) {
  const std::uint32_t* from = src + c.base;
  const __m512i offset = _mm512_loadu_si512(c.offset);
  if constexpr (kKind == ScaleChunk::kNear) {
    return _mm512_maskz_permutexvar_epi32(0xFFFF, offset,
                                          _mm512_maskz_loadu_epi32(c.load[0], from));
  } else if constexpr (kKind == ScaleChunk::kWide) {
    return _mm512_permutex2var_epi32(_mm512_maskz_loadu_epi32(c.load[0], from), offset,
                                     _mm512_maskz_loadu_epi32(c.load[1], from + 16));
  } else {
    return _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), c.store, offset, from, 4);
  }
}

// A run of chunks of one kind, the common case of a uniform scale.
template <ScaleChunk::Kind kKind>
void Run(const std::uint32_t* src, const ScaleChunk* chunks, int count, std::uint32_t* dst) {
  for (int i = 0; i < count; ++i, dst += kScaleChunk) {
    _mm512_mask_storeu_epi32(dst, chunks[i].store, Pick<kKind>(src, chunks[i]));
  }
}

}  // namespace

void ScaleRow_AVX512(const std::uint32_t* src, const ScaleChunk* chunks, int count,
                     std::uint32_t* dst) {
  int i = 0;
  while (i < count) {
    const ScaleChunk::Kind kind = chunks[i].kind;
    int end = i + 1;
    while (end < count && chunks[end].kind == kind) ++end;
    std::uint32_t* out = dst + kScaleChunk * i;
    switch (kind) {
      case ScaleChunk::kNear:
        Run<ScaleChunk::kNear>(src, chunks + i, end - i, out);
        break;
      case ScaleChunk::kWide:
        Run<ScaleChunk::kWide>(src, chunks + i, end - i, out);
        break;
      case ScaleChunk::kGather:
        Run<ScaleChunk::kGather>(src, chunks + i, end - i, out);
        break;
    }
    i = end;
  }
}

}  // namespace pixel_kernels
