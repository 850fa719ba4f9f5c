// The fast path with AVX-512BW: 64 pixels per step, the last 8 to 56 pixels
// of a row under masks. Compiled with -mavx512bw; called only where the
// processor has AVX-512BW.
//
// Each half step of 32 pixels keeps the luma terms as [L0 L1] and the chroma
// terms as [b r] and [g g] word pairs, one pair per YUY2 group, and forms
// [B0 R1], [B1 R0] and [G0 G1] with three additions. Byte shuffles then
// interleave them into B G R A order, the alpha byte coming from the register
// they merge into. The load is permuted by 64-bit quarters first so that each
// 128-bit lane holds the groups of pixels 4i..4i+3 and 16+4i..16+4i+3, which
// makes every later step lane-local. The port that does the shuffles is the
// bottleneck, so the green bytes of both halves share one pack.
#include <algorithm>

#include "pixel/x86_intrinsics.h"
#include "pixel/yuy2_fast_constants.h"
#include "pixel/yuy2_row.h"

namespace pixel_kernels {
namespace {

constexpr int Pair(int lo, int hi) {
  return static_cast<int>((static_cast<unsigned>(hi) << 16) |
                          (static_cast<unsigned>(lo) & 0xFFFFu));
}

constexpr int Bytes(int b0, int b1, int b2, int b3) {
  return b3 << 24 | b2 << 16 | b1 << 8 | b0;
}

// The same 16 bytes in every 128-bit lane.
__m512i Lanes(int b0, int b1, int b2, int b3, int b4, int b5, int b6, int b7, int b8, int b9,
              int b10, int b11, int b12, int b13, int b14, int b15) {
  return _mm512_set4_epi32(Bytes(b12, b13, b14, b15), Bytes(b8, b9, b10, b11),
                           Bytes(b4, b5, b6, b7), Bytes(b0, b1, b2, b3));
}

constexpr __mmask64 kBlueRed = 0x5555555555555555ull;  // bytes 0 and 2 of each pixel
constexpr __mmask64 kGreen = 0x2222222222222222ull;    // byte 1 of each pixel

inline __m512i SwapWords(__m512i v) {
  return _mm512_rol_epi32(v, 16);
}

struct Constants {
  __m512i quarters = _mm512_setr_epi64(0, 4, 1, 5, 2, 6, 3, 7);
  __m512i luma_bytes = _mm512_set1_epi16(8);         // Y * 8 + U * 0
  __m512i chroma_bytes = _mm512_set1_epi16(8 << 8);  // Y * 0 + U * 8
  __m512i luma_offset = _mm512_set1_epi16(kFastLumaOffset * 8);
  __m512i chroma_offset = _mm512_set1_epi16(128 * 8);
  __m512i luma = _mm512_set1_epi16(kFastLuma);
  __m512i blue_red = _mm512_set1_epi32(Pair(kFastUBlue, kFastVRed));
  __m512i green = _mm512_set1_epi32(Pair(kFastUGreen, kFastVGreen));
  __m512i alpha = _mm512_set1_epi32(static_cast<int>(0xFF000000u));
  // Per lane, P holds B0 R1 of the lane's four groups in bytes 0..7 and
  // B1 R0 in bytes 8..15; the first two groups make the first output
  // register, the last two the second.
  __m512i blue_red_first = Lanes(0, 0, 9, 0, 8, 0, 1, 0, 2, 0, 11, 0, 10, 0, 3, 0);
  __m512i blue_red_second = Lanes(4, 0, 13, 0, 12, 0, 5, 0, 6, 0, 15, 0, 14, 0, 7, 0);
  // Q holds G0 G1 of the first half's four groups in bytes 0..7, of the
  // second half's in bytes 8..15.
  __m512i green_first[2] = {Lanes(0, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0),
                            Lanes(0, 8, 0, 0, 0, 9, 0, 0, 0, 10, 0, 0, 0, 11, 0, 0)};
  __m512i green_second[2] = {Lanes(0, 4, 0, 0, 0, 5, 0, 0, 0, 6, 0, 0, 0, 7, 0, 0),
                             Lanes(0, 12, 0, 0, 0, 13, 0, 0, 0, 14, 0, 0, 0, 15, 0, 0)};
};

// 32 pixels of YUY2 to packed [B0 R1 | B1 R0] bytes and [G0 G1] words.
inline void Terms(const Constants& k, __m512i x, __m512i& blue_red, __m512i& green) {
  x = _mm512_permutexvar_epi64(k.quarters, x);
  __m512i y = _mm512_subs_epu16(_mm512_maddubs_epi16(x, k.luma_bytes), k.luma_offset);
  y = _mm512_mulhi_epi16(y, k.luma);  // [L0 L1]
  const __m512i c = _mm512_sub_epi16(_mm512_maddubs_epi16(x, k.chroma_bytes), k.chroma_offset);
  const __m512i br = _mm512_mulhi_epi16(c, k.blue_red);  // [b r]
  __m512i g = _mm512_mulhi_epi16(c, k.green);            // [gu gv]
  // The terms are small (|sum| < 600), so plain 16-bit additions give what
  // saturating ones would, on either vector port.
  g = _mm512_add_epi16(g, SwapWords(g));  // [g g]
  blue_red = _mm512_packus_epi16(_mm512_add_epi16(y, br), _mm512_add_epi16(SwapWords(y), br));
  green = _mm512_add_epi16(y, g);
}

struct Pixels {
  __m512i out[4];  // pixels 0..15, 16..31, 32..47, 48..63
};

inline Pixels Convert64(const Constants& k, __m512i first_half, __m512i second_half) {
  __m512i blue_red[2], green[2];
  Terms(k, first_half, blue_red[0], green[0]);
  Terms(k, second_half, blue_red[1], green[1]);
  const __m512i q = _mm512_packus_epi16(green[0], green[1]);
  Pixels p;
  for (int h = 0; h < 2; ++h) {
    __m512i a = _mm512_mask_shuffle_epi8(k.alpha, kBlueRed, blue_red[h], k.blue_red_first);
    __m512i b = _mm512_mask_shuffle_epi8(k.alpha, kBlueRed, blue_red[h], k.blue_red_second);
    p.out[2 * h] = _mm512_mask_shuffle_epi8(a, kGreen, q, k.green_first[h]);
    p.out[2 * h + 1] = _mm512_mask_shuffle_epi8(b, kGreen, q, k.green_second[h]);
  }
  return p;
}

// Up to 64 pixels (an even count) under masks. Streamed, the count is a
// multiple of 4 and the destination 16-byte aligned: whole 128-bit lanes go
// out with streaming stores, so that no line of a streamed row is ever read
// for ownership.
template <bool kStream>
void ConvertPart(const Constants& k, const std::uint8_t* src, std::uint32_t* dst, int n) {
  const auto bytes = [n](int from) -> __mmask64 {
    const int count = n * 2 - from;
    return count <= 0 ? 0 : count >= 64 ? ~__mmask64{0} : (__mmask64{1} << count) - 1;
  };
  const Pixels p = Convert64(k, _mm512_maskz_loadu_epi8(bytes(0), src),
                             _mm512_maskz_loadu_epi8(bytes(64), src + 64));
  for (int r = 0; r < 4 && n > 16 * r; ++r) {
    const int lanes = n - 16 * r;
    if constexpr (kStream) {
      auto* out = reinterpret_cast<__m128i*>(dst + 16 * r);
      _mm_stream_si128(out, _mm512_castsi512_si128(p.out[r]));
      if (lanes > 4) {
        _mm_stream_si128(out + 1, _mm512_extracti32x4_epi32(p.out[r], 1));
      }
      if (lanes > 8) {
        _mm_stream_si128(out + 2, _mm512_extracti32x4_epi32(p.out[r], 2));
      }
      if (lanes > 12) {
        _mm_stream_si128(out + 3, _mm512_extracti32x4_epi32(p.out[r], 3));
      }
    } else {
      const auto mask = static_cast<__mmask16>(lanes >= 16 ? 0xFFFF : (1u << lanes) - 1);
      _mm512_mask_storeu_epi32(dst + 16 * r, mask, p.out[r]);
    }
  }
}

// A row whose destination is 64-byte aligned after `head` pixels.
template <bool kStream>
void ConvertAligned(const Constants& k, const std::uint8_t* src, std::uint32_t* dst, int width,
                    int head) {
  if (head > 0) {
    ConvertPart<kStream>(k, src, dst, head);
    src += 2 * head;
    dst += head;
    width -= head;
  }
  for (; width >= 64; width -= 64, src += 128, dst += 64) {
    const Pixels p = Convert64(k, _mm512_loadu_si512(src), _mm512_loadu_si512(src + 64));
    for (int r = 0; r < 4; ++r) {
      if constexpr (kStream) {
        _mm512_stream_si512(reinterpret_cast<__m512i*>(dst + 16 * r), p.out[r]);
      } else {
        _mm512_store_si512(dst + 16 * r, p.out[r]);
      }
    }
  }
  if (width > 0) {
    ConvertPart<kStream>(k, src, dst, width);
  }
}

}  // namespace

void Yuy2ToArgbRow_AVX512BW(const std::uint8_t* src, std::uint32_t* dst, int width, bool stream) {
  const Constants k;
  // Converting the first few pixels apart lets every other store fill a
  // whole cache line, which streaming needs and which saves the processor
  // splitting stores across lines; on short rows that extra step costs more
  // than it saves. Streaming takes a 16-byte aligned destination (its first
  // and last few pixels go out 16 bytes at a time); aligning alone takes a
  // whole number of YUY2 groups, a destination at least 8-byte aligned.
  const auto address = reinterpret_cast<std::uintptr_t>(dst);
  const int head = std::min(width, static_cast<int>((64 - address % 64) % 64 / 4));
  if (stream && address % 16 == 0) {
    ConvertAligned<true>(k, src, dst, width, head);
  } else if (address % 8 == 0 && width >= 512) {
    ConvertAligned<false>(k, src, dst, width, head);
  } else {
    for (; width >= 64; width -= 64, src += 128, dst += 64) {
      const Pixels p = Convert64(k, _mm512_loadu_si512(src), _mm512_loadu_si512(src + 64));
      for (int r = 0; r < 4; ++r) {
        _mm512_storeu_si512(dst + 16 * r, p.out[r]);
      }
    }
    if (width > 0) {
      ConvertPart<false>(k, src, dst, width);
    }
  }
}

}  // namespace pixel_kernels
