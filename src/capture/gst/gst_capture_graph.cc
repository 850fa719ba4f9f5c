#include "capture/gst/gst_capture_graph.h"

#include <gst/app/gstappsink.h>
#include <gst/video/video.h>

#include <atomic>
#include <string>
#include <vector>

#include "capture/graph_event_queue.h"
#include "capture/gst/gst_caps.h"
#include "capture/video_render.h"
#include "common/hand_off.h"

namespace {

// Long enough for a USB camera to open; a graph that takes longer is not running.
constexpr GstClockTime kRunTimeout = 5 * GST_SECOND;

// The renderer takes what the sample path converts; the colour converter
// after an MJPG decoder thus gives 32-bit pixels instead of its planar output.
constexpr char kRendererCaps[] = "video/x-raw, format=(string){ BGRA, YUY2, BGR }";

MediaType SampleMediaType(const GstVideoInfo& info) {
  MediaType type;
  type.width = GST_VIDEO_INFO_WIDTH(&info);
  type.height = GST_VIDEO_INFO_HEIGHT(&info);
  switch (GST_VIDEO_INFO_FORMAT(&info)) {
    case GST_VIDEO_FORMAT_YUY2:
      type.subtype = MediaSubtype::kYUY2;
      type.bit_count = 16;
      break;
    case GST_VIDEO_FORMAT_BGR:
      type.subtype = MediaSubtype::kRGB24;
      type.bit_count = 24;
      break;
    case GST_VIDEO_FORMAT_BGRA:
      type.subtype = MediaSubtype::kARGB32;
      type.bit_count = 32;
      break;
    default:
      break;
  }
  return type;
}

// The rows in the layout the sample path reads: YUY2 top-down in whole
// pixel pairs, RGB24 and ARGB32 packed and bottom-up as DirectShow gives them
// (GStreamer's are top-down).
void SetRowLayout(const GstVideoFrame& frame, const MediaType& type, RawSample& raw) {
  raw.rows = type.height;
  raw.stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
  switch (type.subtype) {
    case MediaSubtype::kYUY2:
      raw.row_bytes = type.width / 2 * 4;
      break;
    case MediaSubtype::kRGB24:
      raw.row_bytes = type.width * 3;
      raw.flip = true;
      break;
    case MediaSubtype::kARGB32:
      raw.row_bytes = type.width * 4;
      raw.flip = true;
      break;
    default:
      raw.rows = 0;
      break;
  }
}

class GstCaptureGraph final : public CaptureGraph {
 public:
  GstCaptureGraph(VideoRender& renderer, plat::HWND notify)
      : renderer_(renderer), events_(notify), pipeline_(gst_pipeline_new("capture graph")) {
    gst_object_ref_sink(pipeline_);
  }

  // GStreamer's streaming threads (pooled, handed over through GLib's locks)
  // take the graph between Run (or the bus handler's installation) and the
  // NULL state; the hand-overs are marked for ThreadSanitizer.
  ~GstCaptureGraph() override {
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    VC_TAKEN_OVER(this);
    GstBus* bus = gst_pipeline_get_bus(GST_PIPELINE(pipeline_));
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(pipeline_);
    gst_caps_replace(&sample_caps_, nullptr);
  }

  bool Assemble(GstElement* source, const GraphFormat& format) {
    gst_object_ref_sink(source);
    gst_element_set_name(source, "SOURCE");
    const bool added = gst_bin_add(GST_BIN(pipeline_), source);
    gst_object_unref(source);  // the pipeline's reference is the one that stays
    if (!added) {
      return false;
    }
    source_ = source;
    GstElement* chain[4] = {};
    std::size_t length = 0;
    chain[length++] = Make("capsfilter", "format caps");
    if (format.needs_decoder) {
      chain[length++] = Make("jpegdec", "mjpg decodec");
      chain[length++] = Make("videoconvert", "color space convert");
    }
    chain[length++] = Make("appsink", VideoRender::kName);
    GstElement* upstream = source;
    for (std::size_t i = 0; i < length; ++i) {
      if (chain[i] == nullptr || !gst_element_link(upstream, chain[i])) {
        return false;
      }
      upstream = chain[i];
    }
    GstCaps* caps = CapsForFormat(format);
    g_object_set(chain[0], "caps", caps, nullptr);
    gst_caps_unref(caps);
    ConfigureSink(GST_APP_SINK(chain[length - 1]));
    GstBus* bus = gst_pipeline_get_bus(GST_PIPELINE(pipeline_));
    VC_HANDED_OVER(this);
    gst_bus_set_sync_handler(bus, &GstCaptureGraph::OnBusMessage, this, nullptr);
    gst_object_unref(bus);
    return true;
  }

  bool Run() override {
    VC_HANDED_OVER(this);
    if (gst_element_set_state(pipeline_, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
      return false;
    }
    return gst_element_get_state(pipeline_, nullptr, nullptr, kRunTimeout) ==
           GST_STATE_CHANGE_SUCCESS;
  }

  // Down to NULL, which joins the streaming threads: no sample reaches the
  // renderer afterwards.
  bool Stop() override {
    return gst_element_set_state(pipeline_, GST_STATE_NULL) != GST_STATE_CHANGE_FAILURE;
  }

  GraphEvents& events() override { return events_; }

  std::vector<std::string> ElementNames() const override {
    std::vector<std::string> names;
    // Sorted gives sinks first.
    GstIterator* it = gst_bin_iterate_sorted(GST_BIN(pipeline_));
    GValue item = G_VALUE_INIT;
    while (gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
      gchar* name = gst_element_get_name(GST_ELEMENT(g_value_get_object(&item)));
      names.insert(names.begin(), name);
      g_free(name);
      g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(it);
    return names;
  }

 private:
  GstElement* Make(const char* factory, const char* name) {
    GstElement* element = gst_element_factory_make(factory, name);
    if (element != nullptr && !gst_bin_add(GST_BIN(pipeline_), element)) {
      return nullptr;  // the bin has sunk and dropped it
    }
    return element;
  }

  void ConfigureSink(GstAppSink* sink) {
    GstCaps* caps = gst_caps_from_string(kRendererCaps);
    gst_app_sink_set_caps(sink, caps);
    gst_caps_unref(caps);
    // Samples are timed by the camera; the owner thread's pace is the
    // renderer's affair, so nothing waits on the clock here.
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_app_sink_set_max_buffers(sink, 2);
    gst_app_sink_set_drop(sink, TRUE);
    GstAppSinkCallbacks callbacks = {};
    callbacks.new_sample = &GstCaptureGraph::OnNewSample;
    gst_app_sink_set_callbacks(sink, &callbacks, this, nullptr);
  }

  static GstFlowReturn OnNewSample(GstAppSink* sink, gpointer data) {
    auto* self = static_cast<GstCaptureGraph*>(data);
    VC_TAKEN_OVER(self);
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (sample != nullptr) {
      self->Render(sample);
      gst_sample_unref(sample);
    }
    VC_HANDED_OVER(self);
    return GST_FLOW_OK;
  }

  void Render(GstSample* sample) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (buffer == nullptr || !ReadLayout(gst_sample_get_caps(sample))) {
      return;
    }
    const GstVideoInfo& info = sample_info_;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) {
      return;
    }
    RawSample raw;
    raw.media_type = SampleMediaType(info);
    auto* plane = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const auto* mapped = static_cast<const std::uint8_t*>(frame.map[0].data);
    raw.data = plane;
    raw.size = frame.map[0].size - static_cast<std::size_t>(plane - mapped);
    raw.actual_length = static_cast<std::int32_t>(gst_buffer_get_size(buffer));
    SetRowLayout(frame, raw.media_type, raw);
    if (GST_BUFFER_OFFSET_IS_VALID(buffer)) {
      raw.media_start = static_cast<std::int64_t>(GST_BUFFER_OFFSET(buffer));
    }
    if (GST_BUFFER_OFFSET_END_IS_VALID(buffer)) {
      raw.media_stop = static_cast<std::int64_t>(GST_BUFFER_OFFSET_END(buffer));
    }
    if (GST_BUFFER_PTS_IS_VALID(buffer)) {
      raw.time_start = static_cast<std::int64_t>(GST_BUFFER_PTS(buffer) / 100);
      if (GST_BUFFER_DURATION_IS_VALID(buffer)) {
        raw.time_stop =
            static_cast<std::int64_t>((GST_BUFFER_PTS(buffer) + GST_BUFFER_DURATION(buffer)) / 100);
      }
    }
    renderer_.DoRenderSample(raw);
    gst_video_frame_unmap(&frame);
  }

  // The samples' layout, parsed again only when their caps change: parsing
  // caps on every sample costs more than the rest of the hand-over.
  bool ReadLayout(GstCaps* caps) {
    if (caps == nullptr) {
      return false;
    }
    if (sample_caps_ == nullptr || !gst_caps_is_equal(caps, sample_caps_)) {
      gst_caps_replace(&sample_caps_, nullptr);
      if (!gst_video_info_from_caps(&sample_info_, caps)) {
        return false;
      }
      gst_caps_replace(&sample_caps_, caps);
    }
    return true;
  }

  static GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    auto* self = static_cast<GstCaptureGraph*>(data);
    VC_TAKEN_OVER(self);
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
      GstObject* from = GST_MESSAGE_SRC(message);
      const bool of_source = from == GST_OBJECT(self->source_) ||
                             gst_object_has_as_ancestor(from, GST_OBJECT(self->source_));
      // A failing source reports itself and then its stopped stream; the
      // owner hears of the loss once.
      if (!of_source) {
        self->events_.Push(EC_ERRORABORT);
      } else if (!self->device_lost_.exchange(true)) {
        self->events_.Push(EC_DEVICE_LOST);
      }
    }
    VC_HANDED_OVER(self);
    // Nobody pops the bus: messages kept there would only accumulate.
    return GST_BUS_DROP;
  }

  VideoRender& renderer_;
  GraphEventQueue events_;
  GstElement* pipeline_;
  GstElement* source_ = nullptr;  // the pipeline's
  std::atomic<bool> device_lost_{false};
  // The appsink's streaming thread only.
  GstCaps* sample_caps_ = nullptr;  // owned; the caps sample_info_ was read from
  GstVideoInfo sample_info_{};
};

}  // namespace

std::unique_ptr<CaptureGraph> BuildGstCaptureGraph(GstElement* source, const GraphFormat& format,
                                                   VideoRender& renderer, plat::HWND notify) {
  if (source == nullptr) {
    return nullptr;
  }
  auto graph = std::make_unique<GstCaptureGraph>(renderer, notify);
  if (!graph->Assemble(source, format)) {
    return nullptr;
  }
  return graph;
}
