// Region objects the caller owns (CreateRectRgn .. DeleteObject) and the
// rectangle-set arithmetic behind them.
#include "region.h"

#include <memory>
#include <utility>

#include "no_destructor.h"
#include "plat/gdi.h"
#include "region_table.h"

namespace plat {
namespace internal {
namespace {

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
         inner.bottom <= outer.bottom;
}

}  // namespace

void AddRect(Region* region, RECT rect) {
  if (rect.left > rect.right)
    std::swap(rect.left, rect.right);
  if (rect.top > rect.bottom)
    std::swap(rect.top, rect.bottom);
  if (rect.left == rect.right || rect.top == rect.bottom)
    return;
  auto& rects = region->rects;
  for (const RECT& r : rects) {
    if (Inside(rect, r))
      return;
  }
  std::erase_if(rects, [&](const RECT& r) { return Inside(r, rect); });
  rects.push_back(rect);
}

int RegionKind(const Region& region) {
  switch (region.rects.size()) {
    case 0:
      return NULLREGION;
    case 1:
      return SIMPLEREGION;
    default:
      return COMPLEXREGION;
  }
}

bool RegionContains(const Region& region, std::int64_t x, std::int64_t y) {
  for (const RECT& r : region.rects) {
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom)
      return true;
  }
  return false;
}

RegionTable& RegionTable::Instance() {
  static NoDestructor<RegionTable> table;
  return *table;
}

HRGN RegionTable::Add(std::unique_ptr<Region> region) {
  const HRGN handle = region.get();
  std::lock_guard lock(mutex_);
  regions_.emplace(handle, std::move(region));
  return handle;
}

std::unique_ptr<Region> RegionTable::Take(HRGN handle) {
  std::lock_guard lock(mutex_);
  auto node = regions_.extract(handle);
  return node ? std::move(node.mapped()) : nullptr;
}

Region* RegionTable::FindLocked(HRGN handle) {
  const auto it = regions_.find(handle);
  return it == regions_.end() ? nullptr : it->second.get();
}

}  // namespace internal

using internal::RegionTable;

HRGN CreateRectRgn(int left, int top, int right, int bottom) {
  auto region = std::make_unique<Region>();
  internal::AddRect(region.get(), RECT{left, top, right, bottom});
  return RegionTable::Instance().Add(std::move(region));
}

int CombineRgn(HRGN dest, HRGN src1, HRGN src2, int mode) {
  if (mode != RGN_OR && mode != RGN_COPY)
    return ERROR_REGION;
  return RegionTable::Instance().With([&](auto find) {
    Region* out = find(dest);
    const Region* a = find(src1);
    const Region* b = mode == RGN_OR ? find(src2) : nullptr;
    if (out == nullptr || a == nullptr || (mode == RGN_OR && b == nullptr))
      return ERROR_REGION;
    // dest may be one of the sources: build the result aside.
    Region result = *a;
    if (b != nullptr) {
      for (const RECT& r : b->rects)
        internal::AddRect(&result, r);
    }
    *out = std::move(result);
    return internal::RegionKind(*out);
  });
}

bool PtInRegion(HRGN region, int x, int y) {
  return RegionTable::Instance().With([&](auto find) {
    const Region* r = find(region);
    return r != nullptr && internal::RegionContains(*r, x, y);
  });
}

bool DeleteObject(HRGN region) {
  return RegionTable::Instance().Take(region) != nullptr;
}

}  // namespace plat
