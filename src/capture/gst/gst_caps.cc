#include "capture/gst/gst_caps.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "external/picture_limits.h"

namespace {

// The byte orders match: DirectShow's RGB24 is GStreamer's BGR, ARGB32 is BGRA.
struct FormatName {
  MediaSubtype subtype;
  const char* name;
  std::int16_t bit_count;
};
constexpr FormatName kRawFormats[] = {
    {MediaSubtype::kYUY2, "YUY2", 16},
    {MediaSubtype::kRGB24, "BGR", 24},
    {MediaSubtype::kARGB32, "BGRA", 32},
    {MediaSubtype::kRGB32, "BGRx", 32},
};

void IntBounds(const GValue* value, std::int32_t limit, std::int32_t& low, std::int32_t& high) {
  low = high = 0;
  if (value == nullptr) {
    return;
  }
  if (G_VALUE_HOLDS_INT(value)) {
    low = high = g_value_get_int(value);
  } else if (GST_VALUE_HOLDS_INT_RANGE(value)) {
    low = gst_value_get_int_range_min(value);
    high = gst_value_get_int_range_max(value);
  } else if (GST_VALUE_HOLDS_LIST(value) && gst_value_list_get_size(value) > 0) {
    std::int32_t lo = 0;
    std::int32_t hi = 0;
    IntBounds(gst_value_list_get_value(value, 0), limit, low, high);
    for (guint i = 1; i < gst_value_list_get_size(value); ++i) {
      IntBounds(gst_value_list_get_value(value, i), limit, lo, hi);
      low = std::min(low, lo);
      high = std::max(high, hi);
    }
  }
  high = std::min(high, limit);
  low = std::max(low, 1);
}

double FractionValue(const GValue* value) {
  const int den = gst_value_get_fraction_denominator(value);
  return den == 0 ? 0.0 : static_cast<double>(gst_value_get_fraction_numerator(value)) / den;
}

void RateBounds(const GValue* value, double& low, double& high) {
  low = high = 0;
  if (value == nullptr) {
    return;
  }
  if (GST_VALUE_HOLDS_FRACTION(value)) {
    low = high = FractionValue(value);
  } else if (GST_VALUE_HOLDS_FRACTION_RANGE(value)) {
    low = FractionValue(gst_value_get_fraction_range_min(value));
    high = FractionValue(gst_value_get_fraction_range_max(value));
  } else if (GST_VALUE_HOLDS_LIST(value) && gst_value_list_get_size(value) > 0) {
    double lo = 0;
    double hi = 0;
    RateBounds(gst_value_list_get_value(value, 0), low, high);
    for (guint i = 1; i < gst_value_list_get_size(value); ++i) {
      RateBounds(gst_value_list_get_value(value, i), lo, hi);
      low = std::min(low, lo);
      high = std::max(high, hi);
    }
  }
}

MediaType RawType(const char* format) {
  MediaType type;
  for (const FormatName& f : kRawFormats) {
    if (format != nullptr && std::strcmp(format, f.name) == 0) {
      type.subtype = f.subtype;
      type.bit_count = f.bit_count;
    }
  }
  return type;
}

void AddCapability(const GstStructure* s, MediaType type, std::vector<Capability>& caps) {
  Capability cap;
  IntBounds(gst_structure_get_value(s, "width"), kMaxPictureWidth, cap.min_width, cap.max_width);
  IntBounds(gst_structure_get_value(s, "height"), kMaxPictureHeight, cap.min_height,
            cap.max_height);
  if (cap.min_width > cap.max_width || cap.min_height > cap.max_height) {
    return;  // nothing within the picture bound
  }
  RateBounds(gst_structure_get_value(s, "framerate"), cap.min_fps, cap.max_fps);
  // A range's own size: VGA where the range holds it, else its nearest edge.
  type.width = std::clamp(640, cap.min_width, cap.max_width);
  type.height = std::clamp(480, cap.min_height, cap.max_height);
  cap.media_type = type;
  caps.push_back(cap);
}

bool InSystemMemory(const GstCaps* caps, guint index) {
  GstCapsFeatures* features = gst_caps_get_features(caps, index);
  return features == nullptr ||
         gst_caps_features_contains(features, GST_CAPS_FEATURE_MEMORY_SYSTEM_MEMORY);
}

}  // namespace

const char* RawFormatName(MediaSubtype subtype) {
  for (const FormatName& f : kRawFormats) {
    if (f.subtype == subtype) {
      return f.name;
    }
  }
  return nullptr;
}

std::vector<Capability> CapabilitiesFromCaps(const GstCaps* caps) {
  std::vector<Capability> result;
  if (caps == nullptr || gst_caps_is_any(caps)) {
    return result;
  }
  for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
    if (!InSystemMemory(caps, i)) {
      continue;
    }
    const GstStructure* s = gst_caps_get_structure(caps, i);
    const std::string_view media = gst_structure_get_name(s);
    if (media == "image/jpeg") {
      MediaType type;
      type.subtype = MediaSubtype::kMJPG;
      type.bit_count = 24;
      AddCapability(s, type, result);
    } else if (media == "video/x-raw") {
      const GValue* format = gst_structure_get_value(s, "format");
      if (format != nullptr && GST_VALUE_HOLDS_LIST(format)) {
        for (guint f = 0; f < gst_value_list_get_size(format); ++f) {
          const GValue* one = gst_value_list_get_value(format, f);
          AddCapability(s, RawType(G_VALUE_HOLDS_STRING(one) ? g_value_get_string(one) : nullptr),
                        result);
        }
      } else {
        AddCapability(s, RawType(gst_structure_get_string(s, "format")), result);
      }
    } else {
      MediaType type;
      type.video = media.starts_with("video/");
      AddCapability(s, type, result);
    }
  }
  return result;
}

GstCaps* CapsForFormat(const GraphFormat& format) {
  GstStructure* s = nullptr;
  if (format.subtype == MediaSubtype::kMJPG) {
    s = gst_structure_new_empty("image/jpeg");
  } else {
    s = gst_structure_new("video/x-raw", "format", G_TYPE_STRING, RawFormatName(format.subtype),
                          nullptr);
  }
  gst_structure_set(s, "width", G_TYPE_INT, format.width, "height", G_TYPE_INT, format.height,
                    nullptr);
  if (format.frame_rate > 0) {
    gst_structure_set(s, "framerate", GST_TYPE_FRACTION, format.frame_rate, 1, nullptr);
  }
  return gst_caps_new_full(s, nullptr);
}
