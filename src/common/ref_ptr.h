// A pointer that holds one reference on an intrusively counted object.
#pragma once

#include <utility>

namespace COMM {

// Tag for adopting the reference a factory already took for the caller.
struct AdoptRef {};
inline constexpr AdoptRef adopt_ref{};

template <typename T>
class RefPtr {
 public:
  RefPtr() = default;
  // Takes a new reference on `p`.
  explicit RefPtr(T* p) : p_(p) {
    if (p_)
      p_->AddRef();
  }
  // Takes over a reference the caller already holds (e.g. a fresh object's first one).
  RefPtr(T* p, AdoptRef) : p_(p) {}
  RefPtr(const RefPtr& other) : RefPtr(other.p_) {}
  RefPtr(RefPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~RefPtr() {
    if (p_)
      p_->Release();
  }

  RefPtr& operator=(const RefPtr& other) { return Reset(other.p_); }
  RefPtr& operator=(RefPtr&& other) noexcept {
    if (this != &other) {
      T* old = std::exchange(p_, std::exchange(other.p_, nullptr));
      if (old)
        old->Release();
    }
    return *this;
  }
  RefPtr& operator=(T* p) { return Reset(p); }

  // Takes the new reference first, then releases the old one, so that
  // assigning an object that only the old one kept alive is safe.
  RefPtr& Reset(T* p = nullptr) {
    if (p)
      p->AddRef();
    T* old = std::exchange(p_, p);
    if (old)
      old->Release();
    return *this;
  }
  // Hands the reference to the caller.
  [[nodiscard]] T* Detach() { return std::exchange(p_, nullptr); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

}  // namespace COMM
