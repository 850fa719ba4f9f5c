#include "capture/gst/capture_stamp_probe.h"

#include <gst/video/video.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "capture/capture_time_stamp.h"

namespace {

// The pad's picture layout, read from its caps event once rather than from
// its caps on every picture. Touched only by the pad's streaming thread.
struct StampLayout {
  GstVideoInfo info;
  bool known = false;
};

// True when every byte of the one plane belongs to a component at full
// height (YUY2, RGB, BGRA; not BGRx, whose padding stays untouched): a
// block's rows are then copies of its first row.
bool PackedFullHeight(const GstVideoFrame& frame) {
  const GstVideoFormatInfo* info = frame.info.finfo;
  if (GST_VIDEO_FRAME_N_PLANES(&frame) != 1) {
    return false;
  }
  // Bytes of components per 24 bytes of the plane.
  constexpr int kSpan = 24;
  int covered = 0;
  for (guint c = 0; c < GST_VIDEO_FORMAT_INFO_N_COMPONENTS(info); ++c) {
    const int step = GST_VIDEO_FORMAT_INFO_PSTRIDE(info, c);
    if (GST_VIDEO_FORMAT_INFO_H_SUB(info, c) != 0 || step <= 0 || kSpan % step != 0) {
      return false;
    }
    covered += kSpan / step;
  }
  return covered == kSpan;
}

// Fills one block in every component: luma (or every colour byte) black or
// white, chroma neutral, so the block reads the same in any 8-bit layout.
// A packed layout gets its first row filled byte by byte and the rest copied
// from it; the bytes between the first and the last one written belong to
// this block, or to its right neighbour, which is filled after it.
void FillBlock(GstVideoFrame& frame, const capture_stamp::Block& block, bool white, bool packed) {
  const GstVideoFormatInfo* info = frame.info.finfo;
  const bool yuv = GST_VIDEO_FORMAT_INFO_IS_YUV(info);
  auto* plane = static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
  const std::ptrdiff_t plane_stride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
  std::ptrdiff_t first = PTRDIFF_MAX;  // bytes of the block's first row, packed layouts
  std::ptrdiff_t last = -1;
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
    const int y1 =
        packed ? y0 + 1 : GST_VIDEO_FORMAT_INFO_SCALE_HEIGHT(info, c, block.y + block.height);
    if (x1 <= x0 || y1 <= y0) {
      continue;
    }
    auto* data = static_cast<std::uint8_t*>(GST_VIDEO_FRAME_COMP_DATA(&frame, c));
    const std::ptrdiff_t stride = GST_VIDEO_FRAME_COMP_STRIDE(&frame, c);
    const std::ptrdiff_t step = GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, c);
    for (int y = y0; y < y1; ++y) {
      std::uint8_t* row = data + y * stride + x0 * step;
      if (step == 1) {
        std::memset(row, value, static_cast<std::size_t>(x1 - x0));
        continue;
      }
      for (int x = x0; x < x1; ++x, row += step) {
        *row = value;
      }
    }
    if (packed) {
      const std::ptrdiff_t offset = data - plane;
      first = std::min(first, offset + x0 * step);
      last = std::max(last, offset + (x1 - 1) * step);
    }
  }
  if (!packed || last < first) {
    return;
  }
  const std::uint8_t* top = plane + block.y * plane_stride + first;
  for (int y = block.y + 1; y < block.y + block.height; ++y) {
    std::memcpy(plane + y * plane_stride + first, top, static_cast<std::size_t>(last - first + 1));
  }
}

GstPadProbeReturn StampPicture(GstPad*, GstPadProbeInfo* probe, gpointer data) {
  auto* layout = static_cast<StampLayout*>(data);
  if ((GST_PAD_PROBE_INFO_TYPE(probe) & GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM) != 0) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(probe);
    if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
      GstCaps* caps = nullptr;
      gst_event_parse_caps(event, &caps);
      layout->known = caps != nullptr && gst_video_info_from_caps(&layout->info, caps) &&
                      GST_VIDEO_INFO_COMP_DEPTH(&layout->info, 0) == 8 &&
                      GST_VIDEO_INFO_WIDTH(&layout->info) > 0;
    }
    return GST_PAD_PROBE_OK;
  }
  if (!layout->known) {
    return GST_PAD_PROBE_OK;
  }
  GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(probe));
  GST_PAD_PROBE_INFO_DATA(probe) = buffer;
  GstVideoFrame frame;
  if (!gst_video_frame_map(&frame, &layout->info, buffer, GST_MAP_WRITE)) {
    return GST_PAD_PROBE_OK;
  }
  const auto now_ms = static_cast<std::uint32_t>(g_get_real_time() / 1000);
  const std::uint64_t bits = capture_stamp::StampBits(now_ms);
  const int width = GST_VIDEO_INFO_WIDTH(&layout->info);
  const int height = GST_VIDEO_INFO_HEIGHT(&layout->info);
  const bool packed = PackedFullHeight(frame);
  for (int i = 0; i < capture_stamp::kBits; ++i) {
    FillBlock(frame, capture_stamp::BlockOf(i, width, height), ((bits >> i) & 1u) != 0, packed);
  }
  gst_video_frame_unmap(&frame);
  return GST_PAD_PROBE_OK;
}

// The pad owns the layout from here on and lets it go with the probe.
void FreeLayout(gpointer data) {
  std::unique_ptr<StampLayout>(static_cast<StampLayout*>(data)).reset();
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
  // The caps event reaches the probe before the first picture in that layout.
  gst_pad_add_probe(
      pad,
      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM),
      &StampPicture, std::make_unique<StampLayout>().release(), &FreeLayout);
  gst_object_unref(pad);
}
