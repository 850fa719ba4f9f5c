#include "surface.h"

#include <algorithm>
#include <new>
#include <utility>

namespace plat::internal {

Surface::Surface(bool host, int width, int height) : host_(host) {
  if (!host_)
    return;
  width_ = Clamp(width);
  height_ = Clamp(height);
  pixels_.assign(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), 0);
}

int Surface::Clamp(int extent) {
  return std::clamp(extent, 0, kMaxExtent);
}

RECT Surface::ClientRect() const {
  std::lock_guard lock(mutex_);
  return RECT{0, 0, width_, height_};
}

bool Surface::Resize(int width, int height) {
  if (!host_)
    return false;
  width = Clamp(width);
  height = Clamp(height);
  std::vector<std::uint32_t> pixels;
  try {
    pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  std::lock_guard lock(mutex_);
  width_ = width;
  height_ = height;
  pixels_.swap(pixels);
  return true;
}

std::int64_t Surface::Paint(const DibRows& src, const DibPlacement& place) {
  if (!host_)
    return -1;
  std::lock_guard lock(mutex_);
  const SurfaceView view{pixels_.data(), width_, height_, region_.get()};
  const std::int64_t lines = CopyDibRows(src, place, view);
  if (lines > 0)
    ++paint_count_;
  return lines;
}

void Surface::CopyRowsLocked(std::int64_t top, std::int64_t count, std::uint32_t* to) const {
  for (std::int64_t y = top; y < top + count; ++y, to += width_) {
    const std::uint32_t* from = pixels_.data() + y * width_;
    // Painting keeps the fourth byte as the painter gave it; it reads as 0.
    const auto rgb = [](std::uint32_t pixel) { return pixel & 0x00FFFFFFu; };
    if (!region_) {
      std::transform(from, from + width_, to, rgb);
      continue;
    }
    // The region's rectangles come in no particular order.
    std::fill(to, to + width_, 0u);
    ForEachSpan(region_.get(), y, 0, width_, [&](std::int64_t x0, std::int64_t x1) {
      std::transform(from + x0, from + x1, to + x0, rgb);
    });
  }
}

bool Surface::Read(std::vector<std::uint32_t>* pixels, int* width, int* height) const {
  if (!host_)
    return false;
  std::lock_guard lock(mutex_);
  pixels->resize(pixels_.size());
  CopyRowsLocked(0, height_, pixels->data());
  *width = width_;
  *height = height_;
  return true;
}

bool Surface::ReadRows(std::int64_t top, std::int64_t count, std::uint32_t* pixels,
                       std::size_t capacity) const {
  if (!host_ || pixels == nullptr)
    return false;
  std::lock_guard lock(mutex_);
  if (top < 0 || count < 0 || top + count > height_ ||
      static_cast<std::uint64_t>(count) * static_cast<std::uint64_t>(width_) > capacity) {
    return false;
  }
  CopyRowsLocked(top, count, pixels);
  return true;
}

std::uint64_t Surface::paint_count() const {
  std::lock_guard lock(mutex_);
  return paint_count_;
}

void Surface::SetRegion(std::unique_ptr<Region> region) {
  {
    std::lock_guard lock(mutex_);
    region_.swap(region);
  }
  // `region` now holds the old one, freed outside the lock.
}

bool Surface::CopyRegion(Region* dest) const {
  std::lock_guard lock(mutex_);
  if (!region_)
    return false;
  *dest = *region_;
  return true;
}

}  // namespace plat::internal
