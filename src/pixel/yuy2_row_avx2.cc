// The fast path with AVX2: 16 pixels per step, and one 8-pixel step of the
// same arithmetic on 128-bit registers for a width that is not a multiple
// of 16. Compiled with -mavx2; called only where the processor has AVX2.
#include <immintrin.h>

#include "pixel/yuy2_fast_constants.h"
#include "pixel/yuy2_row.h"

namespace pixel_kernels {
namespace {

constexpr int Pair(int lo, int hi) {
  return static_cast<int>((static_cast<unsigned>(hi) << 16) |
                          (static_cast<unsigned>(lo) & 0xFFFFu));
}

// 16-bit luma terms of the Y bytes and [b r], [g g] chroma term pairs of the
// U, V bytes of one register of YUY2 groups; then the packed pixels. The same
// steps serve 128-bit and 256-bit registers.
struct Ops256 {
  using V = __m256i;
  static V Set16(int v) { return _mm256_set1_epi16(static_cast<short>(v)); }
  static V Set32(int v) { return _mm256_set1_epi32(v); }
  static V Set8x2(int lo, int hi) { return _mm256_set1_epi16(static_cast<short>(hi << 8 | lo)); }
  static V Maddubs(V a, V b) { return _mm256_maddubs_epi16(a, b); }
  static V SubsU16(V a, V b) { return _mm256_subs_epu16(a, b); }
  static V Sub16(V a, V b) { return _mm256_sub_epi16(a, b); }
  static V MulHi(V a, V b) { return _mm256_mulhi_epi16(a, b); }
  static V Add16(V a, V b) { return _mm256_add_epi16(a, b); }
  static V Shuffle8(V a, V idx) { return _mm256_shuffle_epi8(a, idx); }
  static V PackUs(V a, V b) { return _mm256_packus_epi16(a, b); }
  static V UnpackLo8(V a, V b) { return _mm256_unpacklo_epi8(a, b); }
  static V UnpackHi8(V a, V b) { return _mm256_unpackhi_epi8(a, b); }
  static V UnpackLo16(V a, V b) { return _mm256_unpacklo_epi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm256_unpackhi_epi16(a, b); }
  static V Lanes(__m128i pattern) { return _mm256_broadcastsi128_si256(pattern); }
};

struct Ops128 {
  using V = __m128i;
  static V Set16(int v) { return _mm_set1_epi16(static_cast<short>(v)); }
  static V Set32(int v) { return _mm_set1_epi32(v); }
  static V Set8x2(int lo, int hi) { return _mm_set1_epi16(static_cast<short>(hi << 8 | lo)); }
  static V Maddubs(V a, V b) { return _mm_maddubs_epi16(a, b); }
  static V SubsU16(V a, V b) { return _mm_subs_epu16(a, b); }
  static V Sub16(V a, V b) { return _mm_sub_epi16(a, b); }
  static V MulHi(V a, V b) { return _mm_mulhi_epi16(a, b); }
  static V Add16(V a, V b) { return _mm_add_epi16(a, b); }
  static V Shuffle8(V a, V idx) { return _mm_shuffle_epi8(a, idx); }
  static V PackUs(V a, V b) { return _mm_packus_epi16(a, b); }
  static V UnpackLo8(V a, V b) { return _mm_unpacklo_epi8(a, b); }
  static V UnpackHi8(V a, V b) { return _mm_unpackhi_epi8(a, b); }
  static V UnpackLo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
  static V UnpackHi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
  static V Lanes(__m128i pattern) { return pattern; }
};

// Byte patterns of one 128-bit lane, per 32-bit pair of words: the words
// swapped, the first word twice, the second word twice.
__m128i SwapWords() {
  return _mm_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
}
__m128i FirstWord() {
  return _mm_setr_epi8(0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13);
}
__m128i SecondWord() {
  return _mm_setr_epi8(2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15);
}

// Converts the YUY2 groups of `x`; `lo` gets the first half of each 128-bit
// lane's pixels, `hi` the second half.
template <typename O>
void ConvertGroups(typename O::V x, typename O::V& lo, typename O::V& hi) {
  using V = typename O::V;
  // Y * 8 from the even bytes, U * 8 and V * 8 from the odd ones.
  V y = O::SubsU16(O::Maddubs(x, O::Set8x2(8, 0)), O::Set16(kFastLumaOffset * 8));
  y = O::MulHi(y, O::Set16(kFastLuma));
  const V c = O::Sub16(O::Maddubs(x, O::Set8x2(0, 8)), O::Set16(128 * 8));
  const V blue_red = O::MulHi(c, O::Set32(Pair(kFastUBlue, kFastVRed)));
  V green = O::MulHi(c, O::Set32(Pair(kFastUGreen, kFastVGreen)));
  // The terms are small (|sum| < 600): plain 16-bit additions give what
  // saturating ones would, on more ports.
  green = O::Add16(green, O::Shuffle8(green, O::Lanes(SwapWords())));
  const V blue = O::Shuffle8(blue_red, O::Lanes(FirstWord()));
  const V red = O::Shuffle8(blue_red, O::Lanes(SecondWord()));
  const V br = O::PackUs(O::Add16(y, blue), O::Add16(y, red));  // B0..B7 R0..R7
  const V ga = O::PackUs(O::Add16(y, green), O::Set16(255));    // G0..G7 FF..FF
  const V bg = O::UnpackLo8(br, ga);
  const V ra = O::UnpackHi8(br, ga);
  lo = O::UnpackLo16(bg, ra);
  hi = O::UnpackHi16(bg, ra);
}

// Lane 0 takes groups 0, 1, 4, 5 and lane 1 groups 2, 3, 6, 7, so that the
// two halves come out as pixels 0..7 and 8..15.
[[gnu::always_inline]] inline __m256i Halves(const std::uint8_t* src) {
  return _mm256_permute4x64_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(src)), 0xD8);
}

template <bool kStream>
void ConvertRow(const std::uint8_t* src, std::uint32_t* dst, int width) {
  int i = 0;
  if (width >= 16) {
    // The next step's load and permute go first, as in the AVX-512 kernel.
    __m256i x = Halves(src);
    for (;;) {
      const bool more = i + 32 <= width;
      const __m256i next = more ? Halves(src + 32) : x;
      __m256i lo, hi;
      ConvertGroups<Ops256>(x, lo, hi);
      if constexpr (kStream) {
        _mm256_stream_si256(reinterpret_cast<__m256i*>(dst), lo);
        _mm256_stream_si256(reinterpret_cast<__m256i*>(dst + 8), hi);
      } else {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), lo);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 8), hi);
      }
      i += 16;
      src += 32;
      dst += 16;
      if (!more) {
        break;
      }
      x = next;
    }
  }
  if (i < width) {
    __m128i lo, hi;
    ConvertGroups<Ops128>(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)), lo, hi);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4), hi);
  }
}

// One call per frame keeps the constants in registers from row to row.
template <bool kStream>
void ConvertRows(const Yuy2Rows& job) {
  const std::uint8_t* src = job.src;
  std::uint8_t* dst = job.dst;
  for (int y = 0; y < job.height; ++y, src += job.src_stride, dst += job.dst_stride) {
    ConvertRow<kStream>(src, reinterpret_cast<std::uint32_t*>(dst), job.width);
  }
}

}  // namespace

void Yuy2ToArgbRows_AVX2(const Yuy2Rows& rows) {
  const bool aligned =
      reinterpret_cast<std::uintptr_t>(rows.dst) % 32 == 0 && rows.dst_stride % 32 == 0;
  if (rows.stream && aligned) {
    ConvertRows<true>(rows);
    _mm_sfence();
  } else {
    ConvertRows<false>(rows);
  }
}

}  // namespace pixel_kernels
