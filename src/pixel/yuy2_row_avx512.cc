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
// makes every later step lane-local.
//
// Where the time went, and what this file does about it (measured on Zen 5):
// - A step is about 40 vector operations on a chain of about 20 cycles that
//   starts with the 5-cycle permute, and steps overlapped poorly: issuing the
//   next step's loads and permutes one step ahead took about an eighth off a
//   step.
// - The constants were built on the stack on every call, one 64-byte store
//   each (a store per cycle); now they live in registers for a whole frame.
// - A call per row paid the call, the tail masks and the pipeline's start on
//   every row; one call converts the whole frame.
// - Splitting off a head so that the stores fill whole cache lines cost more
//   than the split stores it saved, so stores go where the row puts them.
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
inline __m512i Lanes(int b0, int b1, int b2, int b3, int b4, int b5, int b6, int b7, int b8, int b9,
                     int b10, int b11, int b12, int b13, int b14, int b15) {
  return _mm512_set4_epi32(Bytes(b12, b13, b14, b15), Bytes(b8, b9, b10, b11),
                           Bytes(b4, b5, b6, b7), Bytes(b0, b1, b2, b3));
}

constexpr __mmask64 kBlueRed = 0x5555555555555555ull;  // bytes 0 and 2 of each pixel
constexpr __mmask64 kGreen = 0x2222222222222222ull;    // byte 1 of each pixel

struct Constants {
  __m512i quarters = _mm512_setr_epi64(0, 4, 1, 5, 2, 6, 3, 7);
  __m512i luma_bytes = _mm512_set1_epi16(8);         // Y * 8 + U * 0
  __m512i chroma_bytes = _mm512_set1_epi16(8 << 8);  // Y * 0 + U * 8
  __m512i luma_offset = _mm512_set1_epi16(kFastLumaOffset * 8);
  __m512i chroma_offset = _mm512_set1_epi16(-128 * 8);
  __m512i luma = _mm512_set1_epi16(kFastLuma);
  __m512i blue_red = _mm512_set1_epi32(Pair(kFastUBlue, kFastVRed));
  __m512i green = _mm512_set1_epi32(Pair(kFastUGreen, kFastVGreen));
  __m512i alpha = _mm512_set1_epi32(static_cast<int>(0xFF000000u));
  // Per lane, a half's packed terms hold B0 R1 of the lane's four groups in
  // bytes 0..7 and B1 R0 in bytes 8..15; the first two groups make the first
  // output register, the last two the second.
  __m512i blue_red_first = Lanes(0, 0, 9, 0, 8, 0, 1, 0, 2, 0, 11, 0, 10, 0, 3, 0);
  __m512i blue_red_second = Lanes(4, 0, 13, 0, 12, 0, 5, 0, 6, 0, 15, 0, 14, 0, 7, 0);
  // The packed greens hold G0 G1 of the first half's four groups in bytes
  // 0..7, of the second half's in bytes 8..15.
  __m512i green_first[2] = {Lanes(0, 0, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0),
                            Lanes(0, 8, 0, 0, 0, 9, 0, 0, 0, 10, 0, 0, 0, 11, 0, 0)};
  __m512i green_second[2] = {Lanes(0, 4, 0, 0, 0, 5, 0, 0, 0, 6, 0, 0, 0, 7, 0, 0),
                             Lanes(0, 12, 0, 0, 0, 13, 0, 0, 0, 14, 0, 0, 0, 15, 0, 0)};
};

inline __m512i SwapWords(__m512i v) {
  return _mm512_rol_epi32(v, 16);
}

// 64 pixels: the two 64-byte halves of YUY2, each already permuted by
// quarters, to four registers of 16 pixels.
struct Pixels {
  __m512i out[4];
};

[[gnu::always_inline]] inline void Terms(const Constants& k, __m512i x, __m512i& blue_red,
                                         __m512i& green) {
  __m512i y = _mm512_subs_epu16(_mm512_maddubs_epi16(x, k.luma_bytes), k.luma_offset);
  y = _mm512_mulhi_epi16(y, k.luma);  // [L0 L1]
  const __m512i c = _mm512_add_epi16(_mm512_maddubs_epi16(x, k.chroma_bytes), k.chroma_offset);
  const __m512i br = _mm512_mulhi_epi16(c, k.blue_red);  // [b r]
  __m512i g = _mm512_mulhi_epi16(c, k.green);            // [gu gv]
  // The terms are small (|sum| < 600), so plain 16-bit additions give what
  // saturating ones would, on any vector port.
  g = _mm512_add_epi16(g, SwapWords(g));  // [g g]
  blue_red = _mm512_packus_epi16(_mm512_add_epi16(y, br), _mm512_add_epi16(SwapWords(y), br));
  green = _mm512_add_epi16(y, g);
}

// Two halves' terms to four registers of 16 pixels.
[[gnu::always_inline]] inline Pixels Assemble(const Constants& k, const __m512i blue_red[2],
                                              const __m512i green[2]) {
  const __m512i q = _mm512_packus_epi16(green[0], green[1]);
  Pixels p;
  for (int h = 0; h < 2; ++h) {
    const __m512i a = _mm512_mask_shuffle_epi8(k.alpha, kBlueRed, blue_red[h], k.blue_red_first);
    const __m512i b = _mm512_mask_shuffle_epi8(k.alpha, kBlueRed, blue_red[h], k.blue_red_second);
    p.out[2 * h] = _mm512_mask_shuffle_epi8(a, kGreen, q, k.green_first[h]);
    p.out[2 * h + 1] = _mm512_mask_shuffle_epi8(b, kGreen, q, k.green_second[h]);
  }
  return p;
}

[[gnu::always_inline]] inline Pixels Convert64(const Constants& k, __m512i first, __m512i second) {
  __m512i blue_red[2], green[2];
  Terms(k, first, blue_red[0], green[0]);
  Terms(k, second, blue_red[1], green[1]);
  return Assemble(k, blue_red, green);
}

[[gnu::always_inline]] inline __m512i Quarters(const Constants& k, const std::uint8_t* src) {
  return _mm512_permutexvar_epi64(k.quarters, _mm512_loadu_si512(src));
}

__mmask64 FirstBytes(int count) {
  return count <= 0 ? 0 : count >= 64 ? ~__mmask64{0} : (__mmask64{1} << count) - 1;
}

template <bool kStream>
void ConvertRows(const Yuy2Rows& job) {
  const Constants k;
  const int steps = job.width / 64;
  // The rest of a row, 8 to 56 pixels, under masks computed once per frame.
  const int rest = job.width % 64;
  const __mmask64 rest_first = FirstBytes(2 * rest);
  const __mmask64 rest_second = FirstBytes(2 * rest - 64);
  __mmask16 rest_store[4];
  for (int r = 0; r < 4; ++r) {
    const int n = rest - 16 * r;
    rest_store[r] = static_cast<__mmask16>(n <= 0 ? 0 : n >= 16 ? 0xFFFF : (1u << n) - 1);
  }
  const std::uint8_t* row_src = job.src;
  std::uint8_t* row_dst = job.dst;
  for (int y = 0; y < job.height; ++y, row_src += job.src_stride, row_dst += job.dst_stride) {
    const std::uint8_t* src = row_src;
    auto* dst = reinterpret_cast<std::uint32_t*>(row_dst);
    if (steps > 0) {
      __m512i first = Quarters(k, src);
      __m512i second = Quarters(k, src + 64);
      for (int left = steps;;) {
        // The next step's loads and permutes go first (see the top).
        __m512i next_first = first, next_second = second;
        if (left > 1) {
          next_first = Quarters(k, src + 128);
          next_second = Quarters(k, src + 192);
        }
        const Pixels p = Convert64(k, first, second);
        for (int r = 0; r < 4; ++r) {
          if constexpr (kStream) {
            _mm512_stream_si512(reinterpret_cast<__m512i*>(dst + 16 * r), p.out[r]);
          } else {
            _mm512_storeu_si512(dst + 16 * r, p.out[r]);
          }
        }
        src += 128;
        dst += 64;
        if (--left == 0) {
          break;
        }
        first = next_first;
        second = next_second;
      }
    }
    if (rest > 0) {
      // A rest of up to 32 pixels (352 x 288 rows end so) needs one half.
      __m512i blue_red[2] = {}, green[2] = {};
      Terms(k, _mm512_permutexvar_epi64(k.quarters, _mm512_maskz_loadu_epi8(rest_first, src)),
            blue_red[0], green[0]);
      if (rest > 32) {
        Terms(k,
              _mm512_permutexvar_epi64(k.quarters, _mm512_maskz_loadu_epi8(rest_second, src + 64)),
              blue_red[1], green[1]);
      }
      const Pixels p = Assemble(k, blue_red, green);
      // Plain stores even when streaming: the rest starts a cache line of its
      // own, and a partial line cannot be streamed without reading it.
      for (int r = 0; r < 4; ++r) {
        _mm512_mask_storeu_epi32(dst + 16 * r, rest_store[r], p.out[r]);
      }
    }
  }
}

}  // namespace

void Yuy2ToArgbRows_AVX512BW(const Yuy2Rows& rows) {
  // Streaming stores go out in whole cache lines, so every row must start on one.
  const bool lines =
      reinterpret_cast<std::uintptr_t>(rows.dst) % 64 == 0 && rows.dst_stride % 64 == 0;
  if (rows.stream && lines) {
    ConvertRows<true>(rows);
    _mm_sfence();
  } else {
    ConvertRows<false>(rows);
  }
}

}  // namespace pixel_kernels
