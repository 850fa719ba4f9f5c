// Watches what a window shows, as a viewer would: after each paint into it,
// it reads back the few rows that tell pictures apart, counts the pictures it
// has not shown before and, when they carry the virtual camera's
// capture-time stamp, how long after capture they appeared.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "plat/handles.h"

namespace videoconf_app {

class FrameWatch {
 public:
  explicit FrameWatch(plat::HWND window) : window_(window) {}

  // Looks at the window at wall-clock `now_ms` if it has been painted since
  // the last look; true when it shows a new picture.
  bool Look(std::int64_t now_ms);

  std::uint64_t frames() const { return frames_; }
  // Capture-to-window delays of the stamped pictures, in milliseconds.
  const std::vector<double>& latencies_ms() const { return latencies_ms_; }

 private:
  // The rows read back: the middle row of each row of stamp blocks, then rows
  // spread evenly over the picture, close enough that a small moving object
  // (the virtual camera's ball, without stamps) always crosses one.
  static constexpr int kStampRows = 2;
  static constexpr int kSampleRows = 16;
  static constexpr int kRowsRead = kStampRows + kSampleRows;

  bool ReadRows();
  std::optional<std::uint32_t> ReadStamp() const;
  std::uint64_t SampleHash() const;

  plat::HWND window_;
  std::uint64_t paints_seen_ = 0;
  std::vector<std::uint32_t> rows_;  // kRowsRead rows of width_, top-down 0x00RRGGBB
  int width_ = 0;
  int height_ = 0;
  std::uint64_t last_hash_ = 0;
  std::uint64_t frames_ = 0;
  std::vector<double> latencies_ms_;
};

// The value below which `percent` of `values` lie (nearest rank); 0 for none.
double Percentile(std::vector<double> values, double percent);

}  // namespace videoconf_app
