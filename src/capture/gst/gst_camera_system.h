// The cameras GStreamer offers: the device monitor's video sources, any
// devices the caller adds, then the built-in virtual camera.
#pragma once

#include <vector>

#include "capture/camera_system.h"

struct GstCameraSystemSetup {
  bool monitor_devices = true;
  std::vector<CameraDevice> extra;  // after the monitor's, in this order
  bool virtual_camera = true;
};

class GstCameraSystem final : public CameraSystem {
 public:
  explicit GstCameraSystem(GstCameraSystemSetup setup);
  bool Devices(std::vector<CameraDevice>& devices) override;

 private:
  GstCameraSystemSetup setup_;
};
