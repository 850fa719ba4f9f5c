// A library loaded at run time, unloaded when its owner goes: also when the
// owner's construction fails after loading it.
#pragma once

#include <utility>

#include "plat/module.h"

namespace kalo::video {

class LoadedLibrary {
 public:
  LoadedLibrary() = default;
  explicit LoadedLibrary(plat::HMODULE module) : module_(module) {}
  ~LoadedLibrary() { Reset(); }
  LoadedLibrary(LoadedLibrary&& other) noexcept : module_(std::exchange(other.module_, nullptr)) {}
  LoadedLibrary& operator=(LoadedLibrary&& other) noexcept {
    if (this != &other) {
      Reset();
      module_ = std::exchange(other.module_, nullptr);
    }
    return *this;
  }

  plat::HMODULE get() const { return module_; }
  explicit operator bool() const { return module_ != nullptr; }
  void Reset() {
    if (module_ != nullptr)
      plat::FreeLibrary(std::exchange(module_, nullptr));
  }

 private:
  plat::HMODULE module_ = nullptr;
};

}  // namespace kalo::video
