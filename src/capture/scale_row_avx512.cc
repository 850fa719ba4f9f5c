// The nearest-neighbour scaler's row kernel with AVX-512F: 16 destination
// pixels per chunk, by permutation of loaded source pixels where the chunk's
// picks are close together and by gather where they are not. Loads cover only
// source pixels that exist, so the last row never reads past its picture.
// Compiled with -mavx512f; called only where the processor has it.
#include <immintrin.h>

#include "capture/scale_row.h"

namespace pixel_kernels {

void ScaleRow_AVX512(const std::uint32_t* src, const ScaleChunk* chunks, int count,
                     std::uint32_t* dst) {
  for (int i = 0; i < count; ++i, dst += kScaleChunk) {
    const ScaleChunk& c = chunks[i];
    const std::uint32_t* from = src + c.base;
    const __m512i offset = _mm512_loadu_si512(c.offset);
    __m512i pixels;
    switch (c.kind) {
      case ScaleChunk::kNear:
        pixels = _mm512_maskz_permutexvar_epi32(0xFFFF, offset,
                                                _mm512_maskz_loadu_epi32(c.load[0], from));
        break;
      case ScaleChunk::kWide:
        pixels = _mm512_permutex2var_epi32(_mm512_maskz_loadu_epi32(c.load[0], from), offset,
                                           _mm512_maskz_loadu_epi32(c.load[1], from + 16));
        break;
      default:
        pixels = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), c.store, offset, from, 4);
        break;
    }
    if (c.store == 0xFFFF) {
      _mm512_storeu_si512(dst, pixels);
    } else {
      _mm512_mask_storeu_epi32(dst, c.store, pixels);
    }
  }
}

}  // namespace pixel_kernels
