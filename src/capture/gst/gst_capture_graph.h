// The capture graph as a GStreamer pipeline: "SOURCE" -> format caps ->
// ("mjpg decodec" -> "color space convert") -> "NULL Render".
#pragma once

#include <gst/gst.h>

#include <memory>

#include "capture/capture_graph.h"
#include "capture/format_choice.h"
#include "plat/types.h"

class VideoRender;

// Takes `source` (floating or owned; named "SOURCE" here) in every case.
// Errors of the source, or of anything inside it, become EC_DEVICE_LOST,
// once per graph. Null when an element cannot be made or joined.
std::unique_ptr<CaptureGraph> BuildGstCaptureGraph(GstElement* source, const GraphFormat& format,
                                                   VideoRender& renderer, plat::HWND notify);
