#include "capture/gst/device_camera.h"

#include <memory>
#include <string>

#include "capture/gst/gst_caps.h"
#include "capture/gst/gst_capture_graph.h"

namespace {

class DeviceCamera final : public CameraSource {
 public:
  explicit DeviceCamera(GstDevice* device)
      : device_(static_cast<GstDevice*>(gst_object_ref(device))) {}
  ~DeviceCamera() override { gst_object_unref(device_); }
  DeviceCamera(const DeviceCamera&) = delete;
  DeviceCamera& operator=(const DeviceCamera&) = delete;

  std::unique_ptr<CaptureGraph> BuildGraph(const GraphFormat& format, VideoRender& renderer,
                                           plat::HWND notify) const override {
    return BuildGstCaptureGraph(gst_device_create_element(device_, nullptr), format, renderer,
                                notify);
  }

  // The test a device must pass to be listed or chosen: its element can be made.
  bool CanInstantiate() const {
    GstElement* element = gst_device_create_element(device_, nullptr);
    if (element == nullptr) {
      return false;
    }
    gst_object_unref(gst_object_ref_sink(element));
    return true;
  }

 private:
  GstDevice* device_;
};

std::string PropertyText(const GstStructure* props, const char* key) {
  const gchar* text = props != nullptr ? gst_structure_get_string(props, key) : nullptr;
  return text != nullptr ? text : "";
}

}  // namespace

CameraDevice MakeDeviceCamera(GstDevice* device) {
  auto source = std::make_shared<DeviceCamera>(device);
  CameraDevice camera;
  GstStructure* props = gst_device_get_properties(device);
  camera.entry.path = PropertyText(props, "device.path");
  if (camera.entry.path.empty()) {
    camera.entry.path = PropertyText(props, "api.v4l2.path");
  }
  if (props != nullptr) {
    gst_structure_free(props);
  }
  gchar* name = gst_device_get_display_name(device);
  camera.entry.name = name != nullptr ? name : "";
  g_free(name);
  GstCaps* caps = gst_device_get_caps(device);
  camera.caps = CapabilitiesFromCaps(caps);
  if (caps != nullptr) {
    gst_caps_unref(caps);
  }
  camera.entry.usable = source->CanInstantiate();
  camera.source = std::move(source);
  return camera;
}
