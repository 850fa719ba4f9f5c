// Painting 32-bit pixels into host windows, window regions, and reading a
// window's pixels back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "plat/export.h"
#include "plat/types.h"

namespace plat {

inline constexpr std::uint32_t BI_RGB = 0;
inline constexpr UINT DIB_RGB_COLORS = 0;

struct BITMAPINFOHEADER {
  std::uint32_t biSize = sizeof(BITMAPINFOHEADER);
  std::int32_t biWidth = 0;
  std::int32_t biHeight = 0;  // > 0: rows bottom-up; < 0: top-down
  std::uint16_t biPlanes = 1;
  std::uint16_t biBitCount = 32;
  std::uint32_t biCompression = BI_RGB;
  std::uint32_t biSizeImage = 0;
  std::int32_t biXPelsPerMeter = 0;
  std::int32_t biYPelsPerMeter = 0;
  std::uint32_t biClrUsed = 0;
  std::uint32_t biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
};

// A device context for a window (HDC::none when the handle is not a live window).
PLAT_API HDC GetDC(HWND hwnd);
PLAT_API int ReleaseDC(HWND hwnd, HDC hdc);

struct PAINTSTRUCT {
  HDC hdc = HDC::none;
  bool fErase = false;
  RECT rcPaint;
};
// Painting brackets: BeginPaint fills `ps` with a device context for the
// window and its client rectangle; both fail harmlessly on a dead window.
PLAT_API HDC BeginPaint(HWND hwnd, PAINTSTRUCT* ps);
PLAT_API bool EndPaint(HWND hwnd, const PAINTSTRUCT* ps);

// Copies rows of a 32-bit BI_RGB bitmap (bytes blue, green, red, x; rows of
// 4 x biWidth bytes) into the window's surface, as SetDIBitsToDevice does:
// the source rectangle (x_src, y_src, width, height), y_src counted from the
// bottom for bottom-up bitmaps (biHeight > 0) and from the top for top-down
// ones, lands at (x_dest, y_dest) in the client area; `bits` holds `lines`
// scan lines (lines x 4 x biWidth bytes, nothing beyond is read) starting at
// scan line `start_scan`, scan lines counted from the bitmap's first row in
// memory. Clipped to the bitmap, the client area and the window's region.
// Returns the number of supplied scan lines that fall in the source
// rectangle, 0 on failure (hidden or dead window, other formats, biWidth <= 0,
// missing bits).
PLAT_API int SetDIBitsToDevice(HDC hdc, int x_dest, int y_dest, std::uint32_t width,
                               std::uint32_t height, int x_src, int y_src, UINT start_scan,
                               UINT lines, const void* bits, const BITMAPINFO* bmi, UINT color_use);

// Regions are sets of rectangles.
inline constexpr int RGN_AND = 1;
inline constexpr int RGN_OR = 2;
inline constexpr int RGN_DIFF = 4;
inline constexpr int RGN_COPY = 5;
inline constexpr int ERROR_REGION = 0;
inline constexpr int NULLREGION = 1;
inline constexpr int SIMPLEREGION = 2;
inline constexpr int COMPLEXREGION = 3;

PLAT_API HRGN CreateRectRgn(int left, int top, int right, int bottom);
// dest = src1 (op) src2; only RGN_OR and RGN_COPY. Returns the region kind.
PLAT_API int CombineRgn(HRGN dest, HRGN src1, HRGN src2, int mode);
// True when the point lies in the region.
PLAT_API bool PtInRegion(HRGN region, int x, int y);
// Frees a region the caller still owns (never one given to SetWindowRgn).
PLAT_API bool DeleteObject(HRGN region);
// The window owns the region after the call (even when it fails) and frees it
// with the window or the next SetWindowRgn. A null region removes the window's
// region. Returns nonzero on success.
PLAT_API int SetWindowRgn(HWND hwnd, HRGN region, bool redraw);
// Copies the window's region into `dest`; returns its kind, ERROR_REGION when
// the window has none.
PLAT_API int GetWindowRgn(HWND hwnd, HRGN dest);

// Reads back a host window's client area, top-down, one 32-bit pixel per
// element (0x00RRGGBB as painted; pixels outside the window's region read 0).
// False for hidden or dead windows.
PLAT_API bool ReadWindowPixels(HWND hwnd, std::vector<std::uint32_t>* pixels, int* width,
                               int* height);

// How many SetDIBitsToDevice calls have drawn into a host window so far; 0
// for hidden or dead windows. A host that watches a window reads it back
// only when this has moved.
PLAT_API std::uint64_t GetWindowPaintCount(HWND hwnd);

// Reads `count` rows of a host window's client area from row `top` (counted
// from the top) into `pixels`, which holds count x client width elements,
// as ReadWindowPixels gives them. False for hidden or dead windows, rows
// outside the client area or a `pixels` too small (nothing written then).
PLAT_API bool ReadWindowRows(HWND hwnd, int top, int count, std::uint32_t* pixels,
                             std::size_t capacity);

}  // namespace plat
