#include "window_registry.h"

#include <mutex>
#include <string_view>
#include <utility>

#include "no_destructor.h"

namespace plat::internal {
namespace {

// Class atoms, as Windows numbers registered classes.
constexpr ATOM kFirstAtom = 0xC000;

// Class names compare without regard to ASCII case, as on Windows.
bool SameClassName(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i]))
      return false;
  }
  return true;
}

}  // namespace

WindowRegistry& WindowRegistry::Instance() {
  static NoDestructor<WindowRegistry> registry;
  return *registry;
}

WindowRegistry::ClassMap::iterator WindowRegistry::FindClassLocked(const char* name,
                                                                   HINSTANCE instance, bool exact) {
  auto any = classes_.end();
  for (auto it = classes_.begin(); it != classes_.end(); ++it) {
    if (!SameClassName(it->second.name, name))
      continue;
    if (it->second.instance == instance)
      return it;
    if (any == classes_.end())
      any = it;
  }
  return exact ? classes_.end() : any;
}

ATOM WindowRegistry::AddClass(const WNDCLASS& wc) {
  if (wc.lpszClassName == nullptr || *wc.lpszClassName == '\0' || wc.lpfnWndProc == nullptr) {
    return 0;
  }
  std::unique_lock lock(mutex_);
  if (FindClassLocked(wc.lpszClassName, wc.hInstance, true) != classes_.end())
    return 0;
  constexpr std::size_t kAtoms = 0x10000 - kFirstAtom;
  for (std::size_t tries = 0; tries < kAtoms; ++tries) {
    const ATOM atom = static_cast<ATOM>(kFirstAtom + (next_atom_++ % kAtoms));
    if (classes_.count(atom) != 0)
      continue;
    classes_.emplace(atom, WindowClass{wc.lpszClassName, wc.lpfnWndProc, wc.hInstance});
    return atom;
  }
  return 0;
}

bool WindowRegistry::RemoveClass(const char* name, HINSTANCE instance) {
  if (name == nullptr)
    return false;
  std::unique_lock lock(mutex_);
  const auto cls = FindClassLocked(name, instance, true);
  if (cls == classes_.end() || cls->second.windows != 0)
    return false;
  classes_.erase(cls);
  return true;
}

HWND WindowRegistry::AddWindow(NewWindow window, WNDPROC* proc) {
  if (window.class_name == nullptr)
    return 0;
  std::unique_lock lock(mutex_);
  const auto cls = FindClassLocked(window.class_name, window.instance, false);
  if (cls == classes_.end())
    return 0;
  const HWND hwnd = handles_.Next([this](HWND h) { return windows_.count(h) != 0; });
  Window& record = windows_[hwnd];
  record.atom = cls->first;
  record.proc = cls->second.proc;
  record.owner = window.owner;
  record.title = std::move(window.title);
  record.queue = std::move(window.queue);
  record.surface = std::move(window.surface);
  ++cls->second.windows;
  *proc = record.proc;
  return hwnd;
}

const WindowRegistry::Window* WindowRegistry::FindLocked(HWND hwnd) const {
  const auto it = windows_.find(hwnd);
  return it == windows_.end() ? nullptr : &it->second;
}

WindowRegistry::Window* WindowRegistry::FindLocked(HWND hwnd) {
  const auto it = windows_.find(hwnd);
  return it == windows_.end() ? nullptr : &it->second;
}

std::optional<WindowRegistry::Target> WindowRegistry::Find(HWND hwnd) const {
  std::shared_lock lock(mutex_);
  const Window* w = FindLocked(hwnd);
  if (w == nullptr)
    return std::nullopt;
  return Target{w->proc, w->owner, w->destroying};
}

std::shared_ptr<Surface> WindowRegistry::SurfaceOf(HWND hwnd) const {
  std::shared_lock lock(mutex_);
  const Window* w = FindLocked(hwnd);
  return w == nullptr ? nullptr : w->surface;
}

bool WindowRegistry::Post(HWND hwnd, const MSG& msg) const {
  std::shared_lock lock(mutex_);
  const Window* w = FindLocked(hwnd);
  return w != nullptr && w->queue->Post(msg);
}

bool WindowRegistry::BeginDestroy(HWND hwnd, DWORD thread, WNDPROC* proc) {
  std::unique_lock lock(mutex_);
  Window* w = FindLocked(hwnd);
  if (w == nullptr || w->owner != thread || w->destroying)
    return false;
  w->destroying = true;
  *proc = w->proc;
  return true;
}

WindowRegistry::WindowMap::node_type WindowRegistry::ExtractLocked(WindowMap::const_iterator it) {
  const auto cls = classes_.find(it->second.atom);
  if (cls != classes_.end())
    --cls->second.windows;
  return windows_.extract(it);
}

void WindowRegistry::Remove(HWND hwnd) {
  WindowMap::node_type gone;
  std::unique_lock lock(mutex_);
  const auto it = windows_.find(hwnd);
  if (it != windows_.end())
    gone = ExtractLocked(it);
  lock.unlock();
}

void WindowRegistry::RemoveThreadWindows(DWORD thread) {
  std::vector<WindowMap::node_type> gone;
  std::unique_lock lock(mutex_);
  for (auto it = windows_.begin(); it != windows_.end();) {
    const auto next = std::next(it);
    if (it->second.owner == thread)
      gone.push_back(ExtractLocked(it));
    it = next;
  }
  lock.unlock();
}

std::optional<LONG_PTR> WindowRegistry::UserData(HWND hwnd) const {
  std::shared_lock lock(mutex_);
  const Window* w = FindLocked(hwnd);
  return w == nullptr ? std::nullopt : std::optional<LONG_PTR>(w->user_data);
}

std::optional<LONG_PTR> WindowRegistry::SetUserData(HWND hwnd, LONG_PTR value) {
  std::unique_lock lock(mutex_);
  Window* w = FindLocked(hwnd);
  if (w == nullptr)
    return std::nullopt;
  return std::exchange(w->user_data, value);
}

bool WindowRegistry::SetTitle(HWND hwnd, std::string title) {
  std::unique_lock lock(mutex_);
  Window* w = FindLocked(hwnd);
  if (w == nullptr)
    return false;
  w->title.swap(title);
  return true;
}

std::optional<std::string> WindowRegistry::Title(HWND hwnd) const {
  std::shared_lock lock(mutex_);
  const Window* w = FindLocked(hwnd);
  return w == nullptr ? std::nullopt : std::optional<std::string>(w->title);
}

std::optional<std::string> WindowRegistry::ClassName(HWND hwnd) const {
  std::shared_lock lock(mutex_);
  const Window* w = FindLocked(hwnd);
  if (w == nullptr)
    return std::nullopt;
  const auto cls = classes_.find(w->atom);
  return cls == classes_.end() ? std::nullopt : std::optional<std::string>(cls->second.name);
}

HWND WindowRegistry::FindWindow(const char* class_name, const char* title) const {
  std::shared_lock lock(mutex_);
  for (const auto& [hwnd, w] : windows_) {
    if (class_name != nullptr) {
      const auto cls = classes_.find(w.atom);
      if (cls == classes_.end() || !SameClassName(cls->second.name, class_name))
        continue;
    }
    if (title != nullptr && w.title != title)
      continue;
    return hwnd;
  }
  return 0;
}

std::vector<HWND> WindowRegistry::Windows() const {
  std::shared_lock lock(mutex_);
  std::vector<HWND> handles;
  handles.reserve(windows_.size());
  for (const auto& entry : windows_)
    handles.push_back(entry.first);
  return handles;
}

}  // namespace plat::internal
