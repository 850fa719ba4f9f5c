// The renderer's records, made once and used again: once a record's buffer
// has grown to the picture's size, a camera sample costs no allocation.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "capture/sample_record.h"

class SampleRecordPool {
 public:
  explicit SampleRecordPool(std::size_t records);
  SampleRecordPool(const SampleRecordPool&) = delete;
  SampleRecordPool& operator=(const SampleRecordPool&) = delete;

  // Any thread. A free record whose `data` holds at least `bytes` (its
  // buffer grown when smaller); null when every record is out, or memory is
  // short. The pool keeps owning it: a record never given back is still freed
  // with the pool.
  SampleRecord* Take(std::size_t bytes);
  // Any thread. A record Take handed out, back for the next sample.
  void Give(SampleRecord* record);

 private:
  std::vector<std::unique_ptr<SampleRecord>> records_;  // every record, for good
  std::mutex lock_;
  std::vector<SampleRecord*> free_;  // under lock_; never beyond records_.size()
};
