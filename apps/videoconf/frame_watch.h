// Watches what a window shows, as a viewer would: after each round of
// painting it reads the window back, counts the pictures it has not shown
// before and, when they carry the virtual camera's capture-time stamp, how
// long after capture they appeared.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "plat/handles.h"

namespace videoconf_app {

class FrameWatch {
 public:
  explicit FrameWatch(plat::HWND window) : window_(window) {}

  // Reads the window back at wall-clock `now_ms`; true when it shows a new picture.
  bool Look(std::int64_t now_ms);

  std::uint64_t frames() const { return frames_; }
  // Capture-to-window delays of the stamped pictures, in milliseconds.
  const std::vector<double>& latencies_ms() const { return latencies_ms_; }
  // The last picture read back: top-down 0x00RRGGBB.
  const std::vector<std::uint32_t>& pixels() const { return pixels_; }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  std::optional<std::uint32_t> ReadStamp() const;
  std::uint64_t SampleHash() const;

  plat::HWND window_;
  std::vector<std::uint32_t> pixels_;
  int width_ = 0;
  int height_ = 0;
  std::uint64_t last_hash_ = 0;
  std::uint64_t frames_ = 0;
  std::vector<double> latencies_ms_;
};

// The value below which `percent` of `values` lie (nearest rank); 0 for none.
double Percentile(std::vector<double> values, double percent);

}  // namespace videoconf_app
