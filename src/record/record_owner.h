// What a recording tells the object that started it. The capture object
// implements this; the writer knows it by this one operation only, so that
// recording depends on nothing of capture.
#pragma once

#include <cstdint>

class RecordOwner {
 public:
  // Whole seconds of recording left, told after every whole second written;
  // 0 when the recording has used up its seconds (or the room a file has).
  virtual void OnRecordSecondsLeft(std::int32_t seconds) = 0;

 protected:
  // Owners are never destroyed through this interface.
  ~RecordOwner() = default;
};
