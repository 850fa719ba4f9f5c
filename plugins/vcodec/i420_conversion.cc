#include "i420_conversion.h"

#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>

namespace vcodec {

// libyuv's ARGB is little-endian: bytes blue, green, red, alpha, as ours. A
// negative height walks the 32-bit side from its last row, which is how it
// reads and writes bottom-up rows; its vector paths never write past a row.

bool BgraToI420(const std::uint8_t* bgra, int width, int height, const I420Planes& out) {
  return libyuv::ARGBToI420(bgra, 4 * width, out.data[0], out.linesize[0], out.data[1],
                            out.linesize[1], out.data[2], out.linesize[2], width, -height) == 0;
}

bool I420ToBgra(const I420Planes& in, int width, int height, std::uint8_t* bgra) {
  return libyuv::I420ToARGB(in.data[0], in.linesize[0], in.data[1], in.linesize[1], in.data[2],
                            in.linesize[2], bgra, 4 * width, width, -height) == 0;
}

}  // namespace vcodec
