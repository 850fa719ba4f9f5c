// Which of a camera's capabilities the capture graph asks for, at which size
// and rate: plain functions over the device's capability list, in the
// device's own order.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "capture/media_type.h"

// One stream capability of a device: the media type it reports, and the
// sizes and rates it accepts when asked for that subtype.
struct Capability {
  MediaType media_type;  // width and height are the capability's own size
  std::int32_t min_width = 0;
  std::int32_t max_width = 0;
  std::int32_t min_height = 0;
  std::int32_t max_height = 0;
  double min_fps = 0;
  double max_fps = 0;
};

// What the graph is built for.
struct GraphFormat {
  MediaSubtype subtype = MediaSubtype::kOther;
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool needs_decoder = false;           // MJPG: decoder and colour converter follow the source
  std::int32_t frame_rate = 0;          // 0: the device's own
  std::int64_t avg_time_per_frame = 0;  // 100 ns units; 0 with frame_rate 0
};

// The first RGB24 or YUY2 capability, else the first MJPG one; nullopt when
// there is neither.
std::optional<std::size_t> ChooseCapability(const std::vector<Capability>& caps);

// True when the device takes `subtype` at width x height.
bool AcceptsSize(const std::vector<Capability>& caps, MediaSubtype subtype, std::int32_t width,
                 std::int32_t height);

// Chooses the capability and the size: a non-zero width and height become
// the capture size (width, height in/out); a size the device refuses falls
// back to the capability's own, which then is the capture size. False when
// no capability fits.
bool ChooseFormat(const std::vector<Capability>& caps, std::int32_t width, std::int32_t height,
                  std::int32_t& capture_width, std::int32_t& capture_height, GraphFormat& format);

// Applies `rate` (0: `frame_rate`) to the chosen format when the device
// takes it at that size: AvgTimePerFrame = 10 000 000 / rate and
// frame_rate = rate. Otherwise false, and the device keeps its own rate.
bool SetFrameRate(const std::vector<Capability>& caps, std::int32_t rate, std::int32_t& frame_rate,
                  GraphFormat& format);
