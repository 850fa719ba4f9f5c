// Stamps the capture time into the pictures leaving a GStreamer element (the
// virtual camera's source), when the process asked for it.
#pragma once

#include <gst/gst.h>

// True when the environment asks the virtual camera for stamped pictures.
bool CaptureStampRequested();

// Writes the stamp of capture_time_stamp.h into every raw 8-bit picture on
// `element`'s "src" pad; other formats pass untouched.
void AttachCaptureStamp(GstElement* element);
