#include "capture/gst/gst_init.h"

#include <gst/gst.h>

#include <mutex>

void EnsureGstInitialized() {
  static std::once_flag once;
  // A host that set GStreamer up itself keeps its own setup.
  std::call_once(once, [] {
    if (!gst_is_initialized()) {
      gst_init(nullptr, nullptr);
    }
  });
}
