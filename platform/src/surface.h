// What a window shows: its client size, the pixels of a host window and the
// window's region. Under its own lock, so that a host thread can read the
// pixels back while the owner thread paints.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "dib_blit.h"
#include "plat/types.h"
#include "region.h"

namespace plat::internal {

class Surface {
 public:
  // Largest client width or height; larger requests are clamped, as window
  // sizes are on Windows.
  static constexpr int kMaxExtent = 16384;

  // A hidden window's surface has no pixels and a 0 x 0 client area. Throws
  // std::bad_alloc when the pixels cannot be allocated.
  Surface(bool host, int width, int height);

  bool host() const { return host_; }
  RECT ClientRect() const;
  // Host windows only: a new client size, cleared to 0. False for hidden
  // windows or when memory runs out (the old size stays).
  bool Resize(int width, int height);

  // Paints into a host window's pixels through the window's region. Returns
  // the scan lines the copy took from `src`, -1 for a hidden window.
  std::int64_t Paint(const DibRows& src, const DibPlacement& place);
  // Top-down copy of the client area; pixels outside the region read 0.
  bool Read(std::vector<std::uint32_t>* pixels, int* width, int* height) const;
  // The same for `count` rows from `top` into `capacity` elements; false
  // when they do not lie in the client area or do not fit.
  bool ReadRows(std::int64_t top, std::int64_t count, std::uint32_t* pixels,
                std::size_t capacity) const;
  // Paints that drew into the pixels so far.
  std::uint64_t paint_count() const;

  // Replaces the window's region (null: none). The old one is freed.
  void SetRegion(std::unique_ptr<Region> region);
  // Copies the region into `dest`; false when the window has none.
  bool CopyRegion(Region* dest) const;

 private:
  static int Clamp(int extent);
  // Rows [top, top + count) into `to`, outside the region 0.
  void CopyRowsLocked(std::int64_t top, std::int64_t count, std::uint32_t* to) const;

  const bool host_;
  mutable std::mutex mutex_;
  int width_ = 0;
  int height_ = 0;
  // Top-down, width_ x height_, each as painted (bytes blue, green, red, x).
  std::vector<std::uint32_t> pixels_;
  std::uint64_t paint_count_ = 0;
  std::unique_ptr<Region> region_;
};

}  // namespace plat::internal
