// Painting into host windows, window regions and read-back: the calls of plat/gdi.h.
#include "plat/gdi.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "dib_blit.h"
#include "region_table.h"
#include "window_registry.h"

namespace plat {

using internal::RegionTable;
using internal::WindowRegistry;

namespace {

HWND WindowOf(HDC hdc) {
  return static_cast<HWND>(hdc);
}

// The caller's rows as the copy reads them; nullopt for what this layer does
// not paint or what cannot describe a real buffer.
std::optional<internal::DibRows> DescribeRows(const BITMAPINFO* bmi, const void* bits,
                                              UINT start_scan, UINT lines, UINT color_use) {
  if (bmi == nullptr || color_use != DIB_RGB_COLORS)
    return std::nullopt;
  const BITMAPINFOHEADER& h = bmi->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biBitCount != 32 || h.biCompression != BI_RGB ||
      h.biWidth <= 0 || h.biHeight == 0) {
    return std::nullopt;
  }
  internal::DibRows rows;
  rows.width = h.biWidth;
  rows.height = std::llabs(static_cast<std::int64_t>(h.biHeight));
  rows.top_down = h.biHeight < 0;
  rows.first_scan = start_scan;
  rows.lines = lines;
  rows.bits = static_cast<const std::uint8_t*>(bits);
  if (lines != 0 && bits == nullptr)
    return std::nullopt;
  // lines x 4 x width bytes must be addressable at all.
  const std::int64_t max_lines = std::numeric_limits<std::ptrdiff_t>::max() / (4 * rows.width);
  if (rows.lines > max_lines)
    return std::nullopt;
  return rows;
}

}  // namespace

HDC GetDC(HWND hwnd) {
  return IsWindow(hwnd) ? static_cast<HDC>(hwnd) : HDC::none;
}

int ReleaseDC(HWND hwnd, HDC hdc) {
  return hwnd != 0 && WindowOf(hdc) == hwnd ? 1 : 0;
}

HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps) {
  if (ps == nullptr)
    return HDC::none;
  *ps = PAINTSTRUCT{};
  if (!GetClientRect(hwnd, &ps->rcPaint))
    return HDC::none;
  ps->hdc = static_cast<HDC>(hwnd);
  return ps->hdc;
}

bool EndPaint(HWND hwnd, const PAINTSTRUCT* ps) {
  return ps != nullptr && ps->hdc != HDC::none && WindowOf(ps->hdc) == hwnd && IsWindow(hwnd);
}

int SetDIBitsToDevice(HDC hdc, int x_dest, int y_dest, std::uint32_t width, std::uint32_t height,
                      int x_src, int y_src, UINT start_scan, UINT lines, const void* bits,
                      const BITMAPINFO* bmi, UINT color_use) {
  const auto rows = DescribeRows(bmi, bits, start_scan, lines, color_use);
  if (!rows)
    return 0;
  const auto surface = WindowRegistry::Instance().SurfaceOf(WindowOf(hdc));
  if (!surface)
    return 0;
  const internal::DibPlacement place{x_dest, y_dest, width, height, x_src, y_src};
  const std::int64_t drawn = surface->Paint(*rows, place);
  if (drawn < 0)
    return 0;
  return static_cast<int>(std::min<std::int64_t>(drawn, std::numeric_limits<int>::max()));
}

int SetWindowRgn(HWND hwnd, HRGN region, bool redraw) {
  std::unique_ptr<Region> owned;
  if (region != nullptr) {
    owned = RegionTable::Instance().Take(region);
    // Not a region the caller owns (already given away, deleted, or never
    // made here): nothing is taken over.
    if (!owned)
      return 0;
  }
  const auto surface = WindowRegistry::Instance().SurfaceOf(hwnd);
  if (!surface)
    return 0;  // `owned` goes with the call, as the window would have freed it
  surface->SetRegion(std::move(owned));
  return 1;
}

int GetWindowRgn(HWND hwnd, HRGN dest) {
  const auto surface = WindowRegistry::Instance().SurfaceOf(hwnd);
  Region copy;
  if (!surface || !surface->CopyRegion(&copy))
    return ERROR_REGION;
  return RegionTable::Instance().With([&](auto find) {
    Region* out = find(dest);
    if (out == nullptr)
      return ERROR_REGION;
    *out = std::move(copy);
    return internal::RegionKind(*out);
  });
}

bool ReadWindowPixels(HWND hwnd, std::vector<std::uint32_t>* pixels, int* width, int* height) {
  if (pixels == nullptr || width == nullptr || height == nullptr)
    return false;
  const auto surface = WindowRegistry::Instance().SurfaceOf(hwnd);
  if (!surface)
    return false;
  try {
    return surface->Read(pixels, width, height);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::uint64_t GetWindowPaintCount(HWND hwnd) {
  const auto surface = WindowRegistry::Instance().SurfaceOf(hwnd);
  return surface ? surface->paint_count() : 0;
}

bool ReadWindowRows(HWND hwnd, int top, int count, std::uint32_t* pixels, std::size_t capacity) {
  const auto surface = WindowRegistry::Instance().SurfaceOf(hwnd);
  return surface && surface->ReadRows(top, count, pixels, capacity);
}

}  // namespace plat
