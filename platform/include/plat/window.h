// Window classes and windows: registration, creation, destruction, attributes.
//
// A window belongs to the thread that created it: only that thread receives
// its messages, and only that thread may destroy it. Windows still alive when
// their thread ends are removed then, without WM_DESTROY.
#pragma once

#include <string>
#include <vector>

#include "plat/export.h"
#include "plat/types.h"

namespace plat {

struct WNDCLASS {
  UINT style = 0;
  WNDPROC lpfnWndProc = nullptr;
  int cbClsExtra = 0;
  int cbWndExtra = 0;
  HINSTANCE hInstance = nullptr;
  const char* lpszClassName = nullptr;
};

// The creation parameters a window procedure sees in WM_CREATE (lParam points at it).
struct CREATESTRUCT {
  void* lpCreateParams = nullptr;
  HINSTANCE hInstance = nullptr;
  HWND hwndParent = 0;
  int cy = 0;
  int cx = 0;
  int y = 0;
  int x = 0;
  DWORD style = 0;
  const char* lpszName = nullptr;
  const char* lpszClass = nullptr;
};

// The handle of the host process's own image (GetModuleHandleA(nullptr)).
PLAT_API HINSTANCE GetModuleHandle(const char* module_name);

// Registers a class by name. Returns 0 when the name is taken (per instance),
// the name is empty or there is no window procedure.
PLAT_API ATOM RegisterClass(const WNDCLASS* wc);
// Fails while a window of the class lives, or when no such class exists.
PLAT_API bool UnregisterClass(const char* class_name, HINSTANCE instance);

// Creates a window of a registered class, owned by the calling thread. The
// window procedure gets WM_CREATE before this returns; a result of -1 from it
// destroys the window (WM_DESTROY follows) and the call returns 0. With
// WS_VISIBLE the window is a host window whose client area is width x height
// (negative sizes count as 0, sizes past 16384 as 16384).
PLAT_API HWND CreateWindow(const char* class_name, const char* window_name, DWORD style, int x,
                           int y, int width, int height, HWND parent, void* menu,
                           HINSTANCE instance, void* param);

// Delivers WM_DESTROY to the window procedure, then the handle is dead: its
// timers stop, messages still queued for it are dispatched nowhere. Refused
// (false) for a window of another thread or one that is not alive. A window
// procedure may destroy its own window while handling a message.
PLAT_API bool DestroyWindow(HWND hwnd);

PLAT_API bool IsWindow(HWND hwnd);
// The thread id (GetCurrentThreadId of the creator) that owns the window, 0 if none.
PLAT_API DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* process_id);

PLAT_API LONG_PTR GetWindowLongPtr(HWND hwnd, int index);
// Returns the previous value (0 also on failure).
PLAT_API LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value);

PLAT_API bool SetWindowText(HWND hwnd, const char* text);
PLAT_API std::string GetWindowText(HWND hwnd);
PLAT_API std::string GetClassName(HWND hwnd);

// The client area: (0, 0, width, height) for host windows, all zero for hidden
// windows. False for a handle that is not a live window.
PLAT_API bool GetClientRect(HWND hwnd, RECT* rect);
// Resizes a host window's client area (the surface is cleared to 0 and the
// window procedure gets WM_SIZE, lParam = height << 16 | width: at once on the
// owner thread, posted from other threads). False for hidden or dead windows.
PLAT_API bool SetClientSize(HWND hwnd, int width, int height);

// The first live window with this class and/or title (null matches any), 0 if none.
PLAT_API HWND FindWindow(const char* class_name, const char* window_name);
// Every live window, in ascending handle order.
PLAT_API std::vector<HWND> EnumWindows();

// Calls the window procedure at once. Only for windows of the calling thread;
// returns 0 otherwise.
PLAT_API LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

PLAT_API LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace plat
