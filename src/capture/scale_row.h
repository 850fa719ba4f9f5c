// Row kernels of the nearest-neighbour scaler, and the choice among them.
//
// Every destination row of one call picks the same source columns, so the
// picks are planned once per call, in chunks of 16 destination columns: the
// first source column of the chunk and each column's offset from it. A chunk
// whose 16 picks lie within 16 or 32 source pixels is a permutation of one or
// two loaded registers; a wider one gathers.
#pragma once

#include <cstdint>

namespace pixel_kernels {

inline constexpr int kScaleChunk = 16;

struct ScaleChunk {
  enum Kind : std::uint8_t { kNear, kWide, kGather };

  std::int32_t base;                 // source column of the first pick
  std::int32_t offset[kScaleChunk];  // source column - base, per pick
  std::uint16_t load[2];             // which of base + 0..15, base + 16..31 exist
  std::uint16_t store;               // which of the 16 destination columns exist
  Kind kind;
};

// Fills one destination row from one source row along a plan of `count`
// chunks; destination column 16 * i + k of the run gets source column
// chunks[i].base + chunks[i].offset[k].
using ScaleRowFn = void (*)(const std::uint32_t* src, const ScaleChunk* chunks, int count,
                            std::uint32_t* dst);

#if defined(__x86_64__)
void ScaleRow_AVX512(const std::uint32_t* src, const ScaleChunk* chunks, int count,
                     std::uint32_t* dst);
#endif

// The vector kernel this processor runs, or nullptr for the scalar path.
ScaleRowFn BestScaleRow();

}  // namespace pixel_kernels
