#include "support/failing_allocator.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::size_t> g_limit{SIZE_MAX};

void* Allocate(std::size_t bytes) noexcept {
  if (bytes >= g_limit.load(std::memory_order_relaxed))
    return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void* AllocateOrThrow(std::size_t bytes) {
  void* p = Allocate(bytes);
  if (p == nullptr)
    throw std::bad_alloc();
  return p;
}

}  // namespace

namespace vc_test {

ScopedAllocationLimit::ScopedAllocationLimit(std::size_t bytes)
    : previous_(g_limit.exchange(bytes)) {}

ScopedAllocationLimit::~ScopedAllocationLimit() {
  g_limit.store(previous_);
}

}  // namespace vc_test

// Every plain form is replaced, and exported, so that all of the process's
// allocations pair with the same malloc and free, also under the sanitizers.
#define VC_TEST_EXPORT __attribute__((visibility("default")))

VC_TEST_EXPORT void* operator new(std::size_t bytes) {
  return AllocateOrThrow(bytes);
}
VC_TEST_EXPORT void* operator new[](std::size_t bytes) {
  return AllocateOrThrow(bytes);
}
VC_TEST_EXPORT void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  return Allocate(bytes);
}
VC_TEST_EXPORT void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
  return Allocate(bytes);
}
// The aligned forms, which the module's pixel buffers use.
void* AllocateAligned(std::size_t bytes, std::align_val_t align) noexcept {
  if (bytes >= g_limit.load(std::memory_order_relaxed))
    return nullptr;
  const std::size_t a = static_cast<std::size_t>(align);
  return std::aligned_alloc(a, (std::max<std::size_t>(bytes, 1) + a - 1) / a * a);
}
void* AllocateAlignedOrThrow(std::size_t bytes, std::align_val_t align) {
  void* p = AllocateAligned(bytes, align);
  if (p == nullptr)
    throw std::bad_alloc();
  return p;
}
VC_TEST_EXPORT void* operator new(std::size_t bytes, std::align_val_t align) {
  return AllocateAlignedOrThrow(bytes, align);
}
VC_TEST_EXPORT void* operator new[](std::size_t bytes, std::align_val_t align) {
  return AllocateAlignedOrThrow(bytes, align);
}
VC_TEST_EXPORT void* operator new(std::size_t bytes, std::align_val_t align,
                                  const std::nothrow_t&) noexcept {
  return AllocateAligned(bytes, align);
}
VC_TEST_EXPORT void* operator new[](std::size_t bytes, std::align_val_t align,
                                    const std::nothrow_t&) noexcept {
  return AllocateAligned(bytes, align);
}
VC_TEST_EXPORT void operator delete(void* p, std::align_val_t) noexcept {
  std::free(p);
}
VC_TEST_EXPORT void operator delete[](void* p, std::align_val_t) noexcept {
  std::free(p);
}
VC_TEST_EXPORT void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
VC_TEST_EXPORT void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}

VC_TEST_EXPORT void operator delete(void* p) noexcept {
  std::free(p);
}
VC_TEST_EXPORT void operator delete[](void* p) noexcept {
  std::free(p);
}
VC_TEST_EXPORT void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
VC_TEST_EXPORT void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
VC_TEST_EXPORT void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
VC_TEST_EXPORT void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
