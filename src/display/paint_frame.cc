#include "display/paint_frame.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "common/aligned_buffer.h"
#include "display/frame_extent.h"
#include "pixel/pixel_converter.h"
#include "plat/gdi.h"
#include "plat/window.h"

namespace kalo::video {

bool PaintFrame(plat::HWND hwnd, const VideoFrame& frame) {
  PaintScratch scratch;
  return PaintFrame(hwnd, frame, scratch);
}

bool PaintFrame(plat::HWND hwnd, const VideoFrame& frame, PaintScratch& scratch) {
  if (hwnd == 0 || !plat::IsWindow(hwnd))
    return false;
  if (!ReadableFrameBytes(frame))
    return false;

  plat::RECT client;
  if (!plat::GetClientRect(hwnd, &client))
    return false;
  const std::int64_t w = std::max<std::int64_t>(std::int64_t{client.right} - client.left, 0);
  const std::int64_t h = std::max<std::int64_t>(std::int64_t{client.bottom} - client.top, 0);
  // The picture's stride and size must fit the 32-bit fields that describe it.
  const std::int64_t stride = 4 * w;
  const std::int64_t bytes = stride * h;
  if (bytes > kMaxPictureBytes || stride > kMaxPictureBytes)
    throw std::bad_alloc();

  // A frame that already is the client area's picture is drawn as it
  // stands: one pass over its pixels instead of a 1:1 scale and the copy.
  const std::uint8_t* bits = frame.data;
  if (w != frame.width || h != frame.height || frame.stride != stride) {
    // Not cleared: the scaler writes every pixel of it.
    if (scratch.size < static_cast<std::size_t>(bytes)) {
      scratch.pixels.reset();
      scratch.size = 0;
      scratch.pixels = MakeAlignedBufferOrThrow(static_cast<std::size_t>(bytes));
      scratch.size = static_cast<std::size_t>(bytes);
    }
    VideoFrame picture;
    picture.data = scratch.pixels.get();
    picture.stride = static_cast<std::int32_t>(stride);
    picture.width = static_cast<std::int32_t>(w);
    picture.height = static_cast<std::int32_t>(h);
    picture.timestamp = frame.timestamp;
    // Scaling needs no clamp table; one converter serves every call.
    static const PixelConverter converter;
    converter.ScaleNearest(picture, frame);
    bits = picture.data;
  }

  plat::BITMAPINFO bmi;
  bmi.bmiHeader.biSize = sizeof(plat::BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = static_cast<std::int32_t>(w);
  // Positive: rows bottom-up, as the frame's.
  bmi.bmiHeader.biHeight = static_cast<std::int32_t>(h);
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = plat::BI_RGB;
  bmi.bmiHeader.biSizeImage = static_cast<std::uint32_t>(bytes);

  // A window that cannot be drawn into still counts as painted; the results
  // of the drawing calls do not change that.
  const plat::HDC dc = plat::GetDC(hwnd);
  plat::PAINTSTRUCT ps;
  plat::BeginPaint(hwnd, &ps);
  plat::SetDIBitsToDevice(dc, 0, 0, static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), 0,
                          0, 0, static_cast<plat::UINT>(h), bits, &bmi, plat::DIB_RGB_COLORS);
  plat::EndPaint(hwnd, &ps);
  plat::ReleaseDC(hwnd, dc);
  return true;
}

}  // namespace kalo::video
