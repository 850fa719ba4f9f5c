// The event queue of a camera graph, as the capture object drains it.
#pragma once

#include <cstdint>

// The camera has gone away (unplugged, or its driver failed).
inline constexpr std::int32_t EC_DEVICE_LOST = 0x1F;

class GraphEvents {
 public:
  virtual ~GraphEvents() = default;

  // Takes the next queued event without waiting: false when the queue is
  // empty. The queue gives back whatever the event carried by itself.
  virtual bool GetEvent(std::int32_t* code) = 0;
};
