#include "capture/gst/capture_stamp_probe.h"

#include <gst/video/video.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "capture/capture_time_stamp.h"

namespace {

// Fills one block in every component: luma (or every colour byte) black or
// white, chroma neutral, so the block reads the same in any 8-bit layout.
void FillBlock(GstVideoFrame& frame, const capture_stamp::Block& block, bool white) {
  const GstVideoFormatInfo* info = frame.info.finfo;
  const bool yuv = GST_VIDEO_FORMAT_INFO_IS_YUV(info);
  for (guint c = 0; c < GST_VIDEO_FORMAT_INFO_N_COMPONENTS(info); ++c) {
    std::uint8_t value = white ? 235 : 16;
    if (!yuv) {
      value = white ? 255 : 0;
    } else if (c != 0) {
      value = 128;
    }
    const int x0 = GST_VIDEO_FORMAT_INFO_SCALE_WIDTH(info, c, block.x);
    const int x1 = GST_VIDEO_FORMAT_INFO_SCALE_WIDTH(info, c, block.x + block.width);
    const int y0 = GST_VIDEO_FORMAT_INFO_SCALE_HEIGHT(info, c, block.y);
    const int y1 = GST_VIDEO_FORMAT_INFO_SCALE_HEIGHT(info, c, block.y + block.height);
    auto* data = static_cast<std::uint8_t*>(GST_VIDEO_FRAME_COMP_DATA(&frame, c));
    const int stride = GST_VIDEO_FRAME_COMP_STRIDE(&frame, c);
    const int step = GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, c);
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) {
        data[static_cast<std::ptrdiff_t>(y) * stride + static_cast<std::ptrdiff_t>(x) * step] =
            value;
      }
    }
  }
}

GstPadProbeReturn StampPicture(GstPad* pad, GstPadProbeInfo* probe, gpointer) {
  GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(probe);
  GstCaps* caps = gst_pad_get_current_caps(pad);
  GstVideoInfo info;
  const bool known = caps != nullptr && gst_video_info_from_caps(&info, caps);
  if (caps != nullptr) {
    gst_caps_unref(caps);
  }
  if (!known || GST_VIDEO_INFO_COMP_DEPTH(&info, 0) != 8 || GST_VIDEO_INFO_WIDTH(&info) <= 0) {
    return GST_PAD_PROBE_OK;
  }
  buffer = gst_buffer_make_writable(buffer);
  GST_PAD_PROBE_INFO_DATA(probe) = buffer;
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_WRITE)) {
    return GST_PAD_PROBE_OK;
  }
  const auto now_ms = static_cast<std::uint32_t>(g_get_real_time() / 1000);
  const std::uint64_t bits = capture_stamp::StampBits(now_ms);
  for (int i = 0; i < capture_stamp::kBits; ++i) {
    FillBlock(frame,
              capture_stamp::BlockOf(i, GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info)),
              ((bits >> i) & 1u) != 0);
  }
  gst_video_frame_unmap(&frame);
  return GST_PAD_PROBE_OK;
}

}  // namespace

bool CaptureStampRequested() {
  return std::getenv(capture_stamp::kEnvironmentVariable) != nullptr;
}

void AttachCaptureStamp(GstElement* element) {
  GstPad* pad = gst_element_get_static_pad(element, "src");
  if (pad == nullptr) {
    return;
  }
  gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &StampPicture, nullptr, nullptr);
  gst_object_unref(pad);
}
