// The renderer's heap copy of one camera sample.
#pragma once

#include <cstdint>

#include "common/aligned_buffer.h"
#include "capture/media_type.h"

struct SampleRecord {
  std::int64_t media_start = -1;  // -1: the sample had none
  std::int64_t media_stop = -1;
  std::int64_t time_start = -1;  // stream times, 100 ns units
  std::int64_t time_stop = -1;
  // The sample's bytes in the order the sample path expects them; the
  // receiver may replace the buffer with one of its own (and `size` with it).
  AlignedBuffer data;
  MediaType media_type;
  std::int32_t actual_length = 0;  // valid bytes of the sample
  std::int32_t size = 0;           // bytes in `data`
};
