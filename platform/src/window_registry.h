// The process's window classes and windows, under one lock. Window procedures
// are never called from here: callers copy out what they need and call them
// after the lock is released.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <shared_mutex>
#include <string>
#include <vector>

#include "handle_counter.h"
#include "message_queue.h"
#include "plat/window.h"
#include "surface.h"

namespace plat::internal {

class WindowRegistry {
 public:
  static WindowRegistry& Instance();

  // 0 when the name is missing or taken for the instance, or there is no procedure.
  ATOM AddClass(const WNDCLASS& wc);
  // False while windows of the class live, or when there is no such class.
  bool RemoveClass(const char* name, HINSTANCE instance);

  struct NewWindow {
    const char* class_name = nullptr;
    HINSTANCE instance = nullptr;
    std::string title;
    DWORD owner = 0;
    std::shared_ptr<MessageQueue> queue;  // the owner thread's
    std::shared_ptr<Surface> surface;
  };
  // Adds a window of a registered class and gives its procedure; 0 when the
  // class is unknown.
  HWND AddWindow(NewWindow window, WNDPROC* proc);

  // What calling a live window needs.
  struct Target {
    WNDPROC proc = nullptr;
    DWORD owner = 0;
    bool destroying = false;
  };
  std::optional<Target> Find(HWND hwnd) const;
  std::shared_ptr<Surface> SurfaceOf(HWND hwnd) const;

  // Posts to the owner's queue while the window is known to be alive.
  bool Post(HWND hwnd, const MSG& msg) const;

  // Starts destroying a live window of `thread` that is not already being
  // destroyed, and gives its procedure. The window stays alive (for its
  // WM_DESTROY) until Remove.
  bool BeginDestroy(HWND hwnd, DWORD thread, WNDPROC* proc);
  void Remove(HWND hwnd);
  void RemoveThreadWindows(DWORD thread);

  std::optional<LONG_PTR> UserData(HWND hwnd) const;
  // Gives the previous value.
  std::optional<LONG_PTR> SetUserData(HWND hwnd, LONG_PTR value);
  bool SetTitle(HWND hwnd, std::string title);
  std::optional<std::string> Title(HWND hwnd) const;
  std::optional<std::string> ClassName(HWND hwnd) const;

  HWND FindWindow(const char* class_name, const char* title) const;
  std::vector<HWND> Windows() const;

 private:
  struct WindowClass {
    std::string name;
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    std::size_t windows = 0;  // live windows of the class
  };
  struct Window {
    ATOM atom = 0;
    WNDPROC proc = nullptr;
    DWORD owner = 0;
    bool destroying = false;
    LONG_PTR user_data = 0;
    std::string title;
    std::shared_ptr<MessageQueue> queue;
    std::shared_ptr<Surface> surface;
  };
  using ClassMap = std::map<ATOM, WindowClass>;
  using WindowMap = std::map<HWND, Window>;

  // The class registered under (name, instance); unless `exact`, any class of
  // that name when none matches the instance.
  ClassMap::iterator FindClassLocked(const char* name, HINSTANCE instance, bool exact);
  const Window* FindLocked(HWND hwnd) const;
  Window* FindLocked(HWND hwnd);
  // Unlinks a window from the table; the caller destroys it after unlocking.
  WindowMap::node_type ExtractLocked(WindowMap::const_iterator it);

  mutable std::shared_mutex mutex_;
  ClassMap classes_;
  ATOM next_atom_ = 0;
  WindowMap windows_;
  HandleCounter handles_;
};

}  // namespace plat::internal
