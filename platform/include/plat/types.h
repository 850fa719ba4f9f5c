// The handle and message types of the window model the module was written for.
#pragma once

#include <cstddef>
#include <cstdint>

#include "plat/handles.h"

namespace plat {

using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using ATOM = std::uint16_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using LONG_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;

// The module handle of an image loaded with LoadLibrary (a dlopen handle).
using HMODULE = void*;
// The instance handle that window classes are registered under.
using HINSTANCE = void*;
// A device context: which window a paint call draws into.
enum class HDC : std::uint32_t { none = 0 };

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

struct RECT {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
};

struct POINT {
  std::int32_t x = 0;
  std::int32_t y = 0;
};

struct MSG {
  HWND hwnd = 0;
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  DWORD time = 0;  // milliseconds of the monotonic clock when posted
};

// Messages the layer itself makes or delivers.
inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_USER = 0x0400;

// PeekMessage flags.
inline constexpr UINT PM_NOREMOVE = 0x0000;
inline constexpr UINT PM_REMOVE = 0x0001;

// Window styles. A window created with WS_VISIBLE is a host window: it has a
// client area of the size given at creation and a 32-bit pixel surface. A
// window without it is hidden and has neither.
inline constexpr DWORD WS_OVERLAPPED = 0x00000000;
inline constexpr DWORD WS_VISIBLE = 0x10000000;

// Window attribute indexes of Get/SetWindowLongPtr.
inline constexpr int GWLP_USERDATA = -21;
inline constexpr int GWL_USERDATA = GWLP_USERDATA;

// Largest number of messages one thread's queue holds; PostMessage fails past it.
inline constexpr std::size_t kMaxQueuedMessages = 10000;

}  // namespace plat
