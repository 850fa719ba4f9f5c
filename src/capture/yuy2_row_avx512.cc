// The fast path with AVX-512BW: 32 pixels per step, the last 8, 16 or 24
// pixels of a row under masks. Compiled with -mavx512bw; called only where the
// processor has AVX-512BW.
//
// Each step keeps the luma terms as [L0 L1] and the chroma terms as [b r] and
// [g g] word pairs, one pair per YUY2 group, and forms [B0 R1], [B1 R0] and
// [G0 G1] with three additions; two in-lane byte shuffles then interleave them
// into B G R A order. The load is permuted by 64-bit quarters first so that
// each 128-bit lane holds the groups of pixels 4i..4i+3 and 16+4i..16+4i+3,
// which makes every later step lane-local.
#include <immintrin.h>

#include "capture/yuy2_fast_constants.h"
#include "capture/yuy2_row.h"

namespace pixel_kernels {
namespace {

constexpr int Pair(int lo, int hi) {
  return static_cast<int>((static_cast<unsigned>(hi) << 16) | (static_cast<unsigned>(lo) & 0xFFFFu));
}

constexpr int Bytes(int b0, int b1, int b2, int b3) { return b3 << 24 | b2 << 16 | b1 << 8 | b0; }

// The same 16 bytes in every 128-bit lane.
__m512i Lanes(int b0, int b1, int b2, int b3, int b4, int b5, int b6, int b7, int b8, int b9,
              int b10, int b11, int b12, int b13, int b14, int b15) {
  return _mm512_set4_epi32(Bytes(b12, b13, b14, b15), Bytes(b8, b9, b10, b11),
                           Bytes(b4, b5, b6, b7), Bytes(b0, b1, b2, b3));
}

struct Constants {
  __m512i quarters = _mm512_setr_epi64(0, 4, 1, 5, 2, 6, 3, 7);
  __m512i luma_bytes = _mm512_set1_epi16(8);           // Y * 8 + U * 0
  __m512i chroma_bytes = _mm512_set1_epi16(8 << 8);    // Y * 0 + U * 8
  __m512i luma_offset = _mm512_set1_epi16(kFastLumaOffset * 8);
  __m512i chroma_offset = _mm512_set1_epi16(128 * 8);
  __m512i luma = _mm512_set1_epi16(kFastLuma);
  __m512i blue_red = _mm512_set1_epi32(Pair(kFastUBlue, kFastVRed));
  __m512i green = _mm512_set1_epi32(Pair(kFastUGreen, kFastVGreen));
  __m512i opaque = _mm512_set1_epi16(255);
  // P holds B0 R1 of the lane's four groups, then B1 R0; Q holds G0 G1 of
  // the four groups, then 255. Even output bytes come from P, odd from Q.
  __m512i first = Lanes(0, 0, 9, 8, 8, 1, 1, 8, 2, 2, 11, 8, 10, 3, 3, 8);
  __m512i second = Lanes(4, 4, 13, 8, 12, 5, 5, 8, 6, 6, 15, 8, 14, 7, 7, 8);
};

constexpr __mmask64 kOddBytes = 0xAAAAAAAAAAAAAAAAull;
constexpr __mmask8 kAll8 = 0xFF;
constexpr __mmask16 kAll16 = 0xFFFF;

// The unmasked forms of these intrinsics start from an "undefined" register
// that GCC 12 warns about; full masks give the same instructions.
inline __m512i Rotate16(__m512i v) { return _mm512_maskz_rol_epi32(kAll16, v, 16); }

inline void ConvertStep(const Constants& k, __m512i x, __m512i& first, __m512i& second) {
  x = _mm512_maskz_permutexvar_epi64(kAll8, k.quarters, x);
  __m512i y = _mm512_subs_epu16(_mm512_maddubs_epi16(x, k.luma_bytes), k.luma_offset);
  y = _mm512_mulhi_epi16(y, k.luma);  // [L0 L1]
  const __m512i c = _mm512_sub_epi16(_mm512_maddubs_epi16(x, k.chroma_bytes), k.chroma_offset);
  const __m512i br = _mm512_mulhi_epi16(c, k.blue_red);  // [b r]
  __m512i g = _mm512_mulhi_epi16(c, k.green);            // [gu gv]
  g = _mm512_adds_epi16(g, Rotate16(g));     // [g g]
  const __m512i b0r1 = _mm512_adds_epi16(y, br);
  const __m512i b1r0 = _mm512_adds_epi16(Rotate16(y), br);
  const __m512i g0g1 = _mm512_adds_epi16(y, g);
  const __m512i p = _mm512_packus_epi16(b0r1, b1r0);
  const __m512i q = _mm512_packus_epi16(g0g1, k.opaque);
  first = _mm512_mask_shuffle_epi8(_mm512_shuffle_epi8(p, k.first), kOddBytes, q, k.first);
  second = _mm512_mask_shuffle_epi8(_mm512_shuffle_epi8(p, k.second), kOddBytes, q, k.second);
}

template <bool kStream>
void Convert(const std::uint8_t* src, std::uint32_t* dst, int width) {
  const Constants k;
  int i = 0;
  for (; i + 32 <= width; i += 32, src += 64, dst += 32) {
    __m512i first, second;
    ConvertStep(k, _mm512_loadu_si512(src), first, second);
    if constexpr (kStream) {
      _mm512_stream_si512(reinterpret_cast<__m512i*>(dst), first);
      _mm512_stream_si512(reinterpret_cast<__m512i*>(dst + 16), second);
    } else {
      _mm512_storeu_si512(dst, first);
      _mm512_storeu_si512(dst + 16, second);
    }
  }
  const int rest = width - i;  // 0, 8, 16 or 24 pixels
  if (rest > 0) {
    const __mmask64 in = (__mmask64{1} << (rest * 2)) - 1;
    __m512i first, second;
    ConvertStep(k, _mm512_maskz_loadu_epi8(in, src), first, second);
    const auto out = static_cast<__mmask32>((__mmask32{1} << rest) - 1);
    _mm512_mask_storeu_epi32(dst, static_cast<__mmask16>(out), first);
    _mm512_mask_storeu_epi32(dst + 16, static_cast<__mmask16>(out >> 16), second);
  }
}

}  // namespace

void Yuy2ToArgbRow_AVX512BW(const std::uint8_t* src, std::uint32_t* dst, int width, bool stream) {
  if (stream && (reinterpret_cast<std::uintptr_t>(dst) & 63) == 0) {
    Convert<true>(src, dst, width);
  } else {
    Convert<false>(src, dst, width);
  }
}

}  // namespace pixel_kernels
