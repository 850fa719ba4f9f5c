// A camera that GStreamer's device monitor found ("Video/Source").
#pragma once

#include <gst/gst.h>

#include "capture/camera_system.h"

// The path from the device's properties ("device.path", else
// "api.v4l2.path"), its display name, its caps. Takes a reference of its own.
CameraDevice MakeDeviceCamera(GstDevice* device);
