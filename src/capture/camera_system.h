// The cameras of the system, as the capture object sees them: plain entries
// for the choice, and each device's way of building its graph.
#pragma once

#include <memory>
#include <vector>

#include "capture/capture_graph.h"
#include "capture/device_selection.h"
#include "capture/format_choice.h"
#include "plat/types.h"

class VideoRender;

class CameraSource {
 public:
  virtual ~CameraSource() = default;
  // Builds the graph from this device to `renderer` for `format`, with its
  // events announced to `notify`; null when any part cannot be made or joined.
  // The renderer must outlive the graph's flow (the graph is stopped first).
  virtual std::unique_ptr<CaptureGraph> BuildGraph(const GraphFormat& format, VideoRender& renderer,
                                                   plat::HWND notify) const = 0;
};

struct CameraDevice {
  DeviceEntry entry;
  std::vector<Capability> caps;  // in the device's own order
  std::shared_ptr<const CameraSource> source;
};

class CameraSystem {
 public:
  virtual ~CameraSystem() = default;
  // Every video input device in enumeration order. False when the devices
  // cannot be enumerated at all.
  virtual bool Devices(std::vector<CameraDevice>& devices) = 0;
};

// The system's cameras (the media framework's devices, then the virtual camera).
std::unique_ptr<CameraSystem> MakeCameraSystem();
