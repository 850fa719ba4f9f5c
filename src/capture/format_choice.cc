#include "capture/format_choice.h"

namespace {

bool CoversSize(const Capability& cap, std::int32_t width, std::int32_t height) {
  return width >= cap.min_width && width <= cap.max_width && height >= cap.min_height &&
         height <= cap.max_height;
}

}  // namespace

std::optional<std::size_t> ChooseCapability(const std::vector<Capability>& caps) {
  std::optional<std::size_t> choice;
  bool choice_needs_decoder = false;
  for (std::size_t i = 0; i < caps.size(); ++i) {
    const MediaType& type = caps[i].media_type;
    if (!type.video) {
      continue;
    }
    if (type.subtype == MediaSubtype::kRGB24 || type.subtype == MediaSubtype::kYUY2) {
      if (!choice || choice_needs_decoder) {
        choice = i;
        choice_needs_decoder = false;
      }
    } else if (type.subtype == MediaSubtype::kMJPG && !choice) {
      choice = i;
      choice_needs_decoder = true;
    }
  }
  return choice;
}

bool AcceptsSize(const std::vector<Capability>& caps, MediaSubtype subtype, std::int32_t width,
                 std::int32_t height) {
  for (const Capability& cap : caps) {
    if (cap.media_type.video && cap.media_type.subtype == subtype &&
        CoversSize(cap, width, height)) {
      return true;
    }
  }
  return false;
}

bool ChooseFormat(const std::vector<Capability>& caps, std::int32_t width, std::int32_t height,
                  std::int32_t& capture_width, std::int32_t& capture_height, GraphFormat& format) {
  if (width != 0 && height != 0) {
    capture_width = width;
    capture_height = height;
  }
  const std::optional<std::size_t> index = ChooseCapability(caps);
  if (!index) {
    return false;
  }
  const MediaType& own = caps[*index].media_type;
  format.subtype = own.subtype;
  format.needs_decoder = own.subtype == MediaSubtype::kMJPG;
  if (!AcceptsSize(caps, own.subtype, capture_width, capture_height)) {
    capture_width = own.width;
    capture_height = own.height;
  }
  format.width = capture_width;
  format.height = capture_height;
  return true;
}

bool SetFrameRate(const std::vector<Capability>& caps, std::int32_t rate, std::int32_t& frame_rate,
                  GraphFormat& format) {
  if (rate == 0) {
    rate = frame_rate;
  }
  if (rate <= 0) {
    return false;
  }
  for (const Capability& cap : caps) {
    if (cap.media_type.video && cap.media_type.subtype == format.subtype &&
        CoversSize(cap, format.width, format.height) && rate >= cap.min_fps &&
        rate <= cap.max_fps) {
      format.frame_rate = rate;
      format.avg_time_per_frame = 10000000 / rate;
      frame_rate = rate;
      return true;
    }
  }
  return false;
}
