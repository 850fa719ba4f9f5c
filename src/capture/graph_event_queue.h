// A graph's event queue: filled from the media framework's threads, drained
// by the capture object on its own thread.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>

#include "capture/graph_events.h"
#include "plat/types.h"

// Aborted by an error other than the loss of the device.
inline constexpr std::int32_t EC_ERRORABORT = 0x03;

class GraphEventQueue final : public GraphEvents {
 public:
  // Notices go to `notify` (0: none) as WM_GRAPH_NOTIFY.
  explicit GraphEventQueue(plat::HWND notify) : notify_(notify) {}

  // Any thread. Posts one notice per batch: when the queue was empty.
  void Push(std::int32_t code);
  bool GetEvent(std::int32_t* code) override;

 private:
  const plat::HWND notify_;
  std::mutex lock_;
  std::deque<std::int32_t> codes_;
};
