#include "capture/gst/pattern_camera.h"

#include <gst/gst.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <utility>

#include "capture/gst/capture_stamp_probe.h"
#include "capture/gst/gst_capture_graph.h"
#include "capture/gst/gst_init.h"
#include "capture/virtual_camera.h"

namespace {

// videotestsrc's moving ball: every picture differs from the last.
constexpr int kBallPattern = 18;
constexpr int kSmptePattern = 0;

class PatternCamera final : public CameraSource {
 public:
  explicit PatternCamera(PatternSetup setup) : setup_(setup) {}

  std::unique_ptr<CaptureGraph> BuildGraph(const GraphFormat& format, VideoRender& renderer,
                                           plat::HWND notify) const override {
    EnsureGstInitialized();
    return BuildGstCaptureGraph(MakeSource(format), format, renderer, notify);
  }

 private:
  // A bin that looks like a camera: live pictures (JPEG-coded for MJPG) on
  // one output pad.
  GstElement* MakeSource(const GraphFormat& format) const {
    GstElement* bin = gst_bin_new(nullptr);
    GstElement* pictures = gst_element_factory_make("videotestsrc", nullptr);
    if (pictures == nullptr) {
      gst_object_unref(gst_object_ref_sink(bin));
      return nullptr;
    }
    g_object_set(pictures, "is-live", TRUE, "pattern", setup_.bars ? kSmptePattern : kBallPattern,
                 nullptr);
    if (CaptureStampRequested()) {
      AttachCaptureStamp(pictures);
    }
    gst_bin_add(GST_BIN(bin), pictures);
    GstElement* last = pictures;
    if (setup_.fail_after_buffers >= 0) {
      last = Append(bin, last, "identity");
      if (last != nullptr) {
        g_object_set(last, "error-after", setup_.fail_after_buffers, nullptr);
      }
    }
    if (last != nullptr && format.subtype == MediaSubtype::kMJPG) {
      last = Append(bin, last, "jpegenc");
    }
    GstPad* pad = last != nullptr ? gst_element_get_static_pad(last, "src") : nullptr;
    if (pad == nullptr || !gst_element_add_pad(bin, gst_ghost_pad_new("src", pad))) {
      if (pad != nullptr) {
        gst_object_unref(pad);
      }
      gst_object_unref(gst_object_ref_sink(bin));
      return nullptr;
    }
    gst_object_unref(pad);
    return bin;
  }

  static GstElement* Append(GstElement* bin, GstElement* upstream, const char* factory) {
    GstElement* element = gst_element_factory_make(factory, nullptr);
    if (element == nullptr || !gst_bin_add(GST_BIN(bin), element) ||
        !gst_element_link(upstream, element)) {
      return nullptr;
    }
    return element;
  }

  const PatternSetup setup_;
};

}  // namespace

CameraDevice MakePatternCamera(std::string path, std::string name, std::vector<Capability> caps,
                               PatternSetup setup) {
  CameraDevice device;
  device.entry.path = std::move(path);
  device.entry.name = std::move(name);
  device.caps = std::move(caps);
  device.source = std::make_shared<PatternCamera>(setup);
  return device;
}

CameraDevice MakeVirtualCamera() {
  PatternSetup setup;
  if (const char* after = std::getenv(kVirtualCameraFailAfterVariable); after != nullptr) {
    setup.fail_after_buffers = std::max(0, std::atoi(after));
  }
  return MakePatternCamera("", kVirtualCameraName, VirtualCameraCapabilities(), setup);
}
