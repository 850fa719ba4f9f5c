// The built-in camera that works without hardware: moving test pictures in
// the formats and sizes real cameras offer.
#pragma once

#include <cstdint>
#include <vector>

#include "capture/format_choice.h"

inline constexpr char kVirtualCameraName[] = "Virtual Video Camera";

// One discrete capability of `subtype` at width x height, 5 to 30 frames a second.
Capability FixedCapability(MediaSubtype subtype, std::int32_t width, std::int32_t height);

// YUY2, then RGB24, then MJPG, each at 176x144, 320x240, 352x288, 640x480
// and 1280x720.
std::vector<Capability> VirtualCameraCapabilities();
