// The nearest-neighbour scaler with AVX-512F.
//
// Every destination row of a band picks the same source columns, so the
// picks are planned once, in chunks of 16 destination columns: the first
// source column of the chunk and each column's offset from it. A chunk whose
// picks lie within 16 or 32 source pixels is a permutation of one or two
// loaded registers; a wider one gathers. Scales by a whole or half ratio
// repeat one pattern from chunk to chunk, which then stays in a register.
// Loads cover only source pixels that exist, so the last row never reads past
// its picture, and stores only the lanes inside the row; when every row
// starts at the same place in a cache line, the first chunk starts before the
// row so that the others store whole lines.
//
// Compiled with -mavx512f; called only where the processor has it.
#include "pixel/x86_intrinsics.h"

#include <algorithm>
#include <climits>

#include "pixel/scale_row.h"

namespace pixel_kernels {
namespace {

constexpr int kChunk = 16;

struct Chunk {
  enum Kind : std::uint8_t { kNear, kWide, kGather };

  std::int32_t column;          // destination column of lane 0, in the band
  std::int32_t base;            // source column of lane 0's pick
  std::int32_t offset[kChunk];  // source column - base, per lane
  __mmask16 load[2];            // which of base + 0..15, base + 16..31 exist
  __mmask16 store;              // which lanes fall inside the band
  Kind kind;
};

struct Plan {
  Chunk chunks[kScaleBand / kChunk + 1];
  int count = 0;
  // Chunks [regular_begin, regular_end) pick like chunks[regular_begin], each
  // `stride` source columns after the one before, and need no masks.
  int regular_begin = 0;
  int regular_end = 0;
  std::int32_t stride = 0;
};

__mmask16 Lanes(int from, int to) {
  from = std::clamp(from, 0, kChunk);
  to = std::clamp(to, from, kChunk);
  return static_cast<__mmask16>(((1u << to) - 1) & ~((1u << from) - 1));
}

std::int32_t FirstLane(__m512i v) {
  return _mm_cvtsi128_si32(_mm512_castsi512_si128(v));
}

std::int32_t LastLane(__m512i v) {
  return _mm_extract_epi32(_mm512_extracti32x4_epi32(v, 3), 3);
}

// The source columns of the band's columns start + 0..15, each clamped into
// [lo, hi).
__m512i Picks(const ScaleJob& job, int start, int lo, int hi) {
  const __m512i lane = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  __m512i x = _mm512_add_epi32(_mm512_set1_epi32(job.first + start), lane);
  x = _mm512_max_epi32(_mm512_min_epi32(x, _mm512_set1_epi32(job.first + hi - 1)),
                       _mm512_set1_epi32(job.first + lo));
  if ((std::int64_t{job.first} + job.width) * job.x_step <= INT32_MAX) {
    const __m512i p = _mm512_srai_epi32(
        _mm512_mullo_epi32(x, _mm512_set1_epi32(static_cast<std::int32_t>(job.x_step))), 16);
    return _mm512_min_epi32(p, _mm512_set1_epi32(static_cast<std::int32_t>(job.last_column)));
  }
  // Products past 31 bits: one lane at a time.
  alignas(64) std::int32_t picks[kChunk];
  _mm512_store_si512(picks, x);
  for (std::int32_t& p : picks) {
    p = static_cast<std::int32_t>(std::min(p * job.x_step >> 16, job.last_column));
  }
  return _mm512_load_si512(picks);
}

void PlanColumns(const ScaleJob& job, int skew, Plan& plan) {
  const auto src_width = static_cast<std::int32_t>(job.last_column + 1);
  for (int start = -skew; start < job.width; start += kChunk, ++plan.count) {
    Chunk& c = plan.chunks[plan.count];
    const int lo = std::max(start, 0);
    const int hi = std::min(start + kChunk, job.width);
    // The lanes outside [lo, hi) repeat the picks at its ends, so the first
    // lane holds the smallest pick and the last the largest.
    const __m512i picks = Picks(job, start, lo, hi);
    c.column = start;
    c.base = FirstLane(picks);
    _mm512_storeu_si512(c.offset, _mm512_sub_epi32(picks, _mm512_set1_epi32(c.base)));
    const std::int32_t span = LastLane(picks) - c.base + 1;
    c.kind = span <= 16 ? Chunk::kNear : span <= 32 ? Chunk::kWide : Chunk::kGather;
    c.load[0] = Lanes(0, src_width - c.base);
    c.load[1] = Lanes(0, src_width - c.base - 16);
    c.store = Lanes(lo - start, hi - start);
  }
  // The longest run of whole chunks, from the first, that repeat its pattern.
  const auto whole = [](const Chunk& c) {
    return c.store == 0xFFFF && c.load[0] == 0xFFFF &&
           (c.kind != Chunk::kWide || c.load[1] == 0xFFFF);
  };
  int begin = 0;
  while (begin < plan.count && !whole(plan.chunks[begin])) {
    ++begin;
  }
  int end = begin;
  if (begin < plan.count) {
    const Chunk& head = plan.chunks[begin];
    const __m512i pattern = _mm512_loadu_si512(head.offset);
    plan.stride = begin + 1 < plan.count ? plan.chunks[begin + 1].base - head.base : 0;
    for (end = begin + 1; end < plan.count; ++end) {
      const Chunk& c = plan.chunks[end];
      if (!whole(c) || c.kind != head.kind || c.base != head.base + (end - begin) * plan.stride ||
          _mm512_cmpneq_epi32_mask(_mm512_loadu_si512(c.offset), pattern) != 0) {
        break;
      }
    }
  }
  plan.regular_begin = begin;
  plan.regular_end = end;
}

using Kind = Chunk::Kind;

template <Kind kKind>
inline __m512i Pick(const std::uint32_t* from, __m512i offset, __mmask16 first, __mmask16 second,
                    __mmask16 lanes) {
  if constexpr (kKind == Chunk::kNear) {
    return _mm512_maskz_permutexvar_epi32(0xFFFF, offset, _mm512_maskz_loadu_epi32(first, from));
  } else if constexpr (kKind == Chunk::kWide) {
    return _mm512_permutex2var_epi32(_mm512_maskz_loadu_epi32(first, from), offset,
                                     _mm512_maskz_loadu_epi32(second, from + 16));
  } else {
    return _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), lanes, offset, from, 4);
  }
}

// Where the picks go: the same columns of each repeated row; kRows is the
// count when it is known at compile time (0 when not).
template <int kRows>
struct Rows {
  std::uintptr_t first;
  std::ptrdiff_t stride;
  int count;

  int Count() const { return kRows > 0 ? kRows : count; }
  // A chunk's column may lie before the row (its lanes there are masked off),
  // so the address is reckoned as an integer.
  std::uintptr_t At(std::int32_t column) const { return first + std::intptr_t{column} * 4; }
  void Store(std::int32_t column, __m512i pixels) const {
    std::uintptr_t at = At(column);
    for (int r = 0; r < Count(); ++r, at += stride) {
      _mm512_storeu_si512(reinterpret_cast<void*>(at), pixels);
    }
  }
  void Store(std::int32_t column, __mmask16 lanes, __m512i pixels) const {
    std::uintptr_t at = At(column);
    for (int r = 0; r < Count(); ++r, at += stride) {
      _mm512_mask_storeu_epi32(reinterpret_cast<void*>(at), lanes, pixels);
    }
  }
};

template <Kind kKind, int kRows>
[[gnu::always_inline]] inline void Regular(const std::uint32_t* src, const Plan& plan,
                                           const Rows<kRows>& rows) {
  if (plan.regular_begin == plan.regular_end) {
    return;
  }
  const Chunk& c = plan.chunks[plan.regular_begin];
  const __m512i offset = _mm512_loadu_si512(c.offset);
  const std::uint32_t* from = src + c.base;
  const std::ptrdiff_t stride = plan.stride;
  std::int32_t column = c.column;
  for (int i = plan.regular_end - plan.regular_begin; i > 0; --i) {
    rows.Store(column, Pick<kKind>(from, offset, 0xFFFF, 0xFFFF, 0xFFFF));
    from += stride;
    column += kChunk;
  }
}

template <Kind kKind, int kRows>
[[gnu::always_inline]] inline void Irregular(const std::uint32_t* src, const Chunk* chunks,
                                             int begin, int end, const Rows<kRows>& rows) {
  for (int i = begin; i < end; ++i) {
    const Chunk& c = chunks[i];
    const __m512i pixels =
        Pick<kKind>(src + c.base, _mm512_loadu_si512(c.offset), c.load[0], c.load[1], c.store);
    rows.Store(c.column, c.store, pixels);
  }
}

// The chunks [begin, end) in runs of one kind.
template <int kRows>
void Irregulars(const std::uint32_t* src, const Chunk* chunks, int begin, int end,
                const Rows<kRows>& rows) {
  while (begin < end) {
    const Kind kind = chunks[begin].kind;
    int run_end = begin + 1;
    while (run_end < end && chunks[run_end].kind == kind) {
      ++run_end;
    }
    switch (kind) {
      case Chunk::kNear:
        Irregular<Chunk::kNear>(src, chunks, begin, run_end, rows);
        break;
      case Chunk::kWide:
        Irregular<Chunk::kWide>(src, chunks, begin, run_end, rows);
        break;
      case Chunk::kGather:
        Irregular<Chunk::kGather>(src, chunks, begin, run_end, rows);
        break;
    }
    begin = run_end;
  }
}

// Calls row(source row, destination rows) for each source row that the
// destination takes, with the destination rows that repeat it.
template <typename RowFn>
inline void ForEachRow(const ScaleJob& job, RowFn&& row) {
  const auto source_row = [&job](std::int64_t y) {
    return std::min(y * job.y_step >> 16, job.last_row);
  };
  for (int y = 0; y < job.height;) {
    const std::int64_t r = source_row(y);
    int repeats = 1;
    while (y + repeats < job.height && source_row(y + repeats) == r) {
      ++repeats;
    }
    const auto* src = reinterpret_cast<const std::uint32_t*>(job.src + r * job.src_stride);
    const std::uintptr_t first =
        reinterpret_cast<std::uintptr_t>(job.dst) + std::uintptr_t(y) * job.dst_stride;
    row(src, first, repeats);
    y += repeats;
  }
}

// A band whose chunks may be of any kind.
void MixedBand(const ScaleJob& job, const Plan& plan) {
  ForEachRow(job, [&](const std::uint32_t* src, std::uintptr_t first, int repeats) {
    const Rows<0> rows{first, job.dst_stride, repeats};
    Irregulars(src, plan.chunks, 0, plan.regular_begin, rows);
    if (plan.regular_begin < plan.regular_end) {
      switch (plan.chunks[plan.regular_begin].kind) {
        case Chunk::kNear:
          Regular<Chunk::kNear>(src, plan, rows);
          break;
        case Chunk::kWide:
          Regular<Chunk::kWide>(src, plan, rows);
          break;
        case Chunk::kGather:
          Regular<Chunk::kGather>(src, plan, rows);
          break;
      }
    }
    Irregulars(src, plan.chunks, plan.regular_end, plan.count, rows);
  });
}

// A band whose chunks are all of one kind, the usual case; shrinking stores
// each pick once, doubling twice.
template <Kind kKind>
void UniformBand(const ScaleJob& job, const Plan& plan) {
  const auto row = [&](const std::uint32_t* src, const auto& rows) {
    Irregular<kKind>(src, plan.chunks, 0, plan.regular_begin, rows);
    Regular<kKind>(src, plan, rows);
    Irregular<kKind>(src, plan.chunks, plan.regular_end, plan.count, rows);
  };
  ForEachRow(job, [&](const std::uint32_t* src, std::uintptr_t first, int repeats) {
    if (repeats == 1) {
      row(src, Rows<1>{first, job.dst_stride, repeats});
    } else if (repeats == 2) {
      row(src, Rows<2>{first, job.dst_stride, repeats});
    } else {
      row(src, Rows<0>{first, job.dst_stride, repeats});
    }
  });
}

}  // namespace

void Scale_AVX512(const ScaleJob& job) {
  const auto address = reinterpret_cast<std::uintptr_t>(job.dst);
  // Enlarging stores more than it loads: when every row starts at the same
  // place in a cache line, start the chunks before the row so that their
  // stores are whole lines.
  const bool enlarging = job.x_step < 65536;
  const int skew = enlarging && job.dst_stride % 64 == 0 && address % 4 == 0
                       ? static_cast<int>(address % 64 / 4)
                       : 0;
  // A caller scales frame after frame between the same sizes: the last plan
  // of this thread is kept and reused.
  struct Cache {
    std::int64_t x_step = 0, last_column = -1;
    int first = -1, width = 0, skew = 0;
    Plan plan;
  };
  thread_local Cache cache;
  if (cache.x_step != job.x_step || cache.last_column != job.last_column ||
      cache.first != job.first || cache.width != job.width || cache.skew != skew) {
    cache.plan = Plan{};
    PlanColumns(job, skew, cache.plan);
    cache.x_step = job.x_step;
    cache.last_column = job.last_column;
    cache.first = job.first;
    cache.width = job.width;
    cache.skew = skew;
  }
  const Plan& plan = cache.plan;
  const Kind kind = plan.chunks[0].kind;
  for (int i = 1; i < plan.count; ++i) {
    if (plan.chunks[i].kind != kind) {
      return MixedBand(job, plan);
    }
  }
  switch (kind) {
    case Chunk::kNear:
      return UniformBand<Chunk::kNear>(job, plan);
    case Chunk::kWide:
      return UniformBand<Chunk::kWide>(job, plan);
    case Chunk::kGather:
      return UniformBand<Chunk::kGather>(job, plan);
  }
}

}  // namespace pixel_kernels
