#include "capture/virtual_camera.h"

#include <utility>

Capability FixedCapability(MediaSubtype subtype, std::int32_t width, std::int32_t height) {
  Capability cap;
  cap.media_type.subtype = subtype;
  cap.media_type.width = width;
  cap.media_type.height = height;
  cap.media_type.bit_count = subtype == MediaSubtype::kYUY2 ? 16 : 24;
  cap.min_width = cap.max_width = width;
  cap.min_height = cap.max_height = height;
  cap.min_fps = 5;
  cap.max_fps = 30;
  return cap;
}

std::vector<Capability> VirtualCameraCapabilities() {
  static constexpr std::pair<std::int32_t, std::int32_t> kSizes[] = {
      {176, 144}, {320, 240}, {352, 288}, {640, 480}, {1280, 720}};
  std::vector<Capability> caps;
  for (MediaSubtype subtype : {MediaSubtype::kYUY2, MediaSubtype::kRGB24, MediaSubtype::kMJPG}) {
    for (const auto& [width, height] : kSizes) {
      caps.push_back(FixedCapability(subtype, width, height));
    }
  }
  return caps;
}
