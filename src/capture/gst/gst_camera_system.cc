#include "capture/gst/gst_camera_system.h"

#include <gst/gst.h>

#include <utility>

#include "capture/gst/device_camera.h"
#include "capture/gst/gst_init.h"
#include "capture/gst/pattern_camera.h"

GstCameraSystem::GstCameraSystem(GstCameraSystemSetup setup) : setup_(std::move(setup)) {}

bool GstCameraSystem::Devices(std::vector<CameraDevice>& devices) {
  EnsureGstInitialized();
  if (setup_.monitor_devices) {
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    if (monitor == nullptr) {
      return false;
    }
    gst_device_monitor_add_filter(monitor, "Video/Source", nullptr);
    // Without start, this probes the hardware now.
    GList* found = gst_device_monitor_get_devices(monitor);
    for (GList* item = found; item != nullptr; item = item->next) {
      devices.push_back(MakeDeviceCamera(GST_DEVICE(item->data)));
    }
    g_list_free_full(found, gst_object_unref);
    gst_object_unref(monitor);
  }
  devices.insert(devices.end(), setup_.extra.begin(), setup_.extra.end());
  if (setup_.virtual_camera) {
    devices.push_back(MakeVirtualCamera());
  }
  return true;
}

std::unique_ptr<CameraSystem> MakeCameraSystem() {
  return std::make_unique<GstCameraSystem>(GstCameraSystemSetup{});
}
