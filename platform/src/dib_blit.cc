#include "dib_blit.h"

#include <algorithm>
#include <cstring>

namespace plat::internal {
namespace {

void CopyPixels(std::uint32_t* to, const std::uint8_t* from, std::int64_t count) {
  // A plain copy: the fourth byte of a BI_RGB pixel means nothing, and the
  // surface drops it when it is read, which is far rarer than painting.
  std::memcpy(to, from, static_cast<std::size_t>(count) * sizeof(std::uint32_t));
}

}  // namespace

std::int64_t CopyDibRows(const DibRows& src, const DibPlacement& place, const SurfaceView& dest) {
  const std::int64_t scan_lo = std::max({src.first_scan, place.y_src, std::int64_t{0}});
  const std::int64_t scan_hi =
      std::min({src.first_scan + src.lines, place.y_src + place.height, src.height});
  if (scan_lo >= scan_hi)
    return 0;

  // Source columns, then the destination columns they map to, clipped to the surface.
  const std::int64_t col_lo = std::max<std::int64_t>(place.x_src, 0);
  const std::int64_t col_hi = std::min(place.x_src + place.width, src.width);
  const std::int64_t shift = place.x_dest - place.x_src;  // destination x - source column
  const std::int64_t x_lo = std::max<std::int64_t>(col_lo + shift, 0);
  const std::int64_t x_hi = std::min(col_hi + shift, dest.width);

  const std::int64_t stride = 4 * src.width;
  for (std::int64_t scan = scan_lo; scan < scan_hi && x_lo < x_hi; ++scan) {
    const std::int64_t offset = scan - place.y_src;
    const std::int64_t y =
        src.top_down ? place.y_dest + offset : place.y_dest + (place.height - 1) - offset;
    if (y < 0 || y >= dest.height)
      continue;
    const std::uint8_t* row = src.bits + (scan - src.first_scan) * stride;
    std::uint32_t* out = dest.pixels + y * dest.width;
    ForEachSpan(dest.clip, y, x_lo, x_hi, [&](std::int64_t x0, std::int64_t x1) {
      CopyPixels(out + x0, row + 4 * (x0 - shift), x1 - x0);
    });
  }
  return scan_hi - scan_lo;
}

}  // namespace plat::internal
