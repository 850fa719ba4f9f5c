// Regions: sets of rectangles in client coordinates.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "plat/types.h"

namespace plat {

// The object behind an HRGN. Every rectangle is non-empty (left < right,
// top < bottom); none lies inside another. Rectangles may overlap.
struct Region {
  std::vector<RECT> rects;
};

namespace internal {

// Adds a rectangle (corners in any order) to the set.
void AddRect(Region* region, RECT rect);
// NULLREGION, SIMPLEREGION or COMPLEXREGION.
int RegionKind(const Region& region);
bool RegionContains(const Region& region, std::int64_t x, std::int64_t y);

// Calls `span(x0, x1)` for the parts of row y between columns lo and hi
// (half open) that the region covers; with no region, for the whole row
// part. Overlapping rectangles may report overlapping spans.
template <typename Span>
void ForEachSpan(const Region* region, std::int64_t y, std::int64_t lo, std::int64_t hi,
                 Span&& span) {
  if (lo >= hi)
    return;
  if (region == nullptr) {
    span(lo, hi);
    return;
  }
  for (const RECT& r : region->rects) {
    if (y < r.top || y >= r.bottom)
      continue;
    const std::int64_t x0 = std::max<std::int64_t>(lo, r.left);
    const std::int64_t x1 = std::min<std::int64_t>(hi, r.right);
    if (x0 < x1)
      span(x0, x1);
  }
}

}  // namespace internal
}  // namespace plat
