// Window classes and windows: the calls of plat/window.h.
#include "plat/window.h"

#include <unistd.h>

#include <new>

#include "plat/message.h"
#include "surface.h"
#include "thread_queue.h"
#include "window_registry.h"

namespace plat {

using internal::Surface;
using internal::WindowRegistry;

namespace {

WindowRegistry& Registry() {
  return WindowRegistry::Instance();
}

// WM_SIZE's lParam: width in the low word, height in the high word.
LPARAM SizeParam(const RECT& client) {
  return static_cast<LPARAM>((static_cast<std::uint32_t>(client.bottom & 0xFFFF) << 16) |
                             static_cast<std::uint32_t>(client.right & 0xFFFF));
}

}  // namespace

ATOM RegisterClass(const WNDCLASS* wc) {
  return wc == nullptr ? 0 : Registry().AddClass(*wc);
}

bool UnregisterClass(const char* class_name, HINSTANCE instance) {
  return Registry().RemoveClass(class_name, instance);
}

HWND CreateWindow(const char* class_name, const char* window_name, DWORD style, int x, int y,
                  int width, int height, HWND parent, void* menu, HINSTANCE instance, void* param) {
  if (class_name == nullptr)
    return 0;
  WindowRegistry::NewWindow window;
  window.class_name = class_name;
  window.instance = instance;
  window.title = window_name != nullptr ? window_name : "";
  window.owner = GetCurrentThreadId();
  window.queue = internal::SharedThreadQueue();
  if (!window.queue)
    return 0;  // the thread is ending
  try {
    window.surface = std::make_shared<Surface>((style & WS_VISIBLE) != 0, width, height);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  WNDPROC proc = nullptr;
  const HWND hwnd = Registry().AddWindow(std::move(window), &proc);
  if (hwnd == 0)
    return 0;

  CREATESTRUCT create;
  create.lpCreateParams = param;
  create.hInstance = instance;
  create.hwndParent = parent;
  create.cx = width;
  create.cy = height;
  create.x = x;
  create.y = y;
  create.style = style;
  create.lpszName = window_name;
  create.lpszClass = class_name;
  if (proc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    DestroyWindow(hwnd);
    return 0;
  }
  // The procedure may have destroyed the window itself.
  return IsWindow(hwnd) ? hwnd : 0;
}

bool DestroyWindow(HWND hwnd) {
  WNDPROC proc = nullptr;
  if (!Registry().BeginDestroy(hwnd, GetCurrentThreadId(), &proc))
    return false;
  // Only the owner gets here, and timers live in the owner's queue. A window
  // being destroyed accepts no new timer, so none outlives it.
  internal::CurrentThreadQueue().KillTimers(hwnd);
  proc(hwnd, WM_DESTROY, 0, 0);
  Registry().Remove(hwnd);
  return true;
}

bool IsWindow(HWND hwnd) {
  return hwnd != 0 && Registry().Find(hwnd).has_value();
}

DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* process_id) {
  const auto target = Registry().Find(hwnd);
  if (!target)
    return 0;
  if (process_id != nullptr)
    *process_id = static_cast<DWORD>(getpid());
  return target->owner;
}

LONG_PTR GetWindowLongPtr(HWND hwnd, int index) {
  if (index != GWLP_USERDATA)
    return 0;
  return Registry().UserData(hwnd).value_or(0);
}

LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value) {
  if (index != GWLP_USERDATA)
    return 0;
  return Registry().SetUserData(hwnd, value).value_or(0);
}

bool SetWindowText(HWND hwnd, const char* text) {
  return Registry().SetTitle(hwnd, text != nullptr ? text : "");
}

std::string GetWindowText(HWND hwnd) {
  return Registry().Title(hwnd).value_or("");
}

std::string GetClassName(HWND hwnd) {
  return Registry().ClassName(hwnd).value_or("");
}

bool GetClientRect(HWND hwnd, RECT* rect) {
  if (rect == nullptr)
    return false;
  const auto surface = Registry().SurfaceOf(hwnd);
  if (!surface)
    return false;
  *rect = surface->ClientRect();
  return true;
}

bool SetClientSize(HWND hwnd, int width, int height) {
  const auto surface = Registry().SurfaceOf(hwnd);
  if (!surface || !surface->Resize(width, height))
    return false;
  const LPARAM size = SizeParam(surface->ClientRect());
  const auto target = Registry().Find(hwnd);
  if (!target)
    return true;
  // The procedure runs on its own thread: directly there, through the queue elsewhere.
  if (target->owner == GetCurrentThreadId()) {
    target->proc(hwnd, WM_SIZE, 0, size);
  } else {
    PostMessage(hwnd, WM_SIZE, 0, size);
  }
  return true;
}

HWND FindWindow(const char* class_name, const char* window_name) {
  return Registry().FindWindow(class_name, window_name);
}

std::vector<HWND> EnumWindows() {
  return Registry().Windows();
}

LRESULT SendMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  const auto target = Registry().Find(hwnd);
  if (!target || target->owner != GetCurrentThreadId())
    return 0;
  return target->proc(hwnd, message, wparam, lparam);
}

LRESULT DefWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CLOSE)
    DestroyWindow(hwnd);
  return 0;
}

}  // namespace plat
