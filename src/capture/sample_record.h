// The renderer's copy of one camera sample (from its pool of records).
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/media_type.h"
#include "common/aligned_buffer.h"

struct SampleRecord {
  std::int64_t media_start = -1;  // -1: the sample had none
  std::int64_t media_stop = -1;
  std::int64_t time_start = -1;  // stream times, 100 ns units
  std::int64_t time_stop = -1;
  // The sample's bytes in the order the sample path expects them; the
  // receiver may replace the buffer with one of its own (and `size` and
  // `capacity` with it).
  AlignedBuffer data;
  std::size_t capacity = 0;  // bytes allocated in `data`, kept across samples
  MediaType media_type;
  std::int32_t actual_length = 0;  // valid bytes of the sample
  std::int32_t size = 0;           // bytes in `data`
};
