#include "capture/sample_record_pool.h"

#include <algorithm>

SampleRecordPool::SampleRecordPool(std::size_t records) {
  records_.reserve(records);
  free_.reserve(records);
  for (std::size_t i = 0; i < records; ++i) {
    records_.push_back(std::make_unique<SampleRecord>());
    free_.push_back(records_.back().get());
  }
}

SampleRecord* SampleRecordPool::Take(std::size_t bytes) {
  SampleRecord* record = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (free_.empty()) {
      return nullptr;
    }
    record = free_.back();
    free_.pop_back();
  }
  if (record->capacity < bytes || !record->data) {
    record->data.reset();
    record->capacity = 0;
    record->data = MakeAlignedBuffer(bytes);
    if (!record->data) {
      Give(record);
      return nullptr;
    }
    record->capacity = bytes;
  }
  return record;
}

void SampleRecordPool::Give(SampleRecord* record) {
  if (record == nullptr) {
    return;
  }
  std::lock_guard<std::mutex> hold(lock_);
  // A record given twice would be handed to two samples at once.
  if (std::find(free_.begin(), free_.end(), record) == free_.end() &&
      free_.size() < records_.size()) {
    free_.push_back(record);
  }
}
