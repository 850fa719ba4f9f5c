// Translation between GStreamer caps and the capture path's media types.
#pragma once

#include <gst/gst.h>

#include <vector>

#include "capture/format_choice.h"
#include "capture/media_type.h"

// One capability per (structure, format) of a device's caps, in caps order.
// Sizes are kept within the system's picture bound.
std::vector<Capability> CapabilitiesFromCaps(const GstCaps* caps);

// The caps that hold the source to `format` (new reference).
GstCaps* CapsForFormat(const GraphFormat& format);

// The GStreamer raw format that carries `subtype`; null for none.
const char* RawFormatName(MediaSubtype subtype);
