// Process-wide state that outlives every thread: threads still running (or
// exiting) while the process exits may use it after static destructors ran.
#pragma once

#include <new>
#include <utility>

namespace plat::internal {

template <typename T>
class NoDestructor {
 public:
  template <typename... Args>
  explicit NoDestructor(Args&&... args) {
    ::new (static_cast<void*>(storage_)) T(std::forward<Args>(args)...);
  }
  NoDestructor(const NoDestructor&) = delete;
  NoDestructor& operator=(const NoDestructor&) = delete;

  T* get() { return std::launder(reinterpret_cast<T*>(storage_)); }
  T* operator->() { return get(); }
  T& operator*() { return *get(); }

 private:
  alignas(T) unsigned char storage_[sizeof(T)];
};

}  // namespace plat::internal
