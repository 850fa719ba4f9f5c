#include "support/failing_allocator.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VC_TEST_OWN_ALLOCATOR 0
#endif
#endif
#ifndef VC_TEST_OWN_ALLOCATOR
#define VC_TEST_OWN_ALLOCATOR 1
#endif

namespace {

std::atomic<std::size_t> g_limit{SIZE_MAX};

[[maybe_unused]] void* Allocate(std::size_t bytes) noexcept {
  if (bytes >= g_limit.load(std::memory_order_relaxed))
    return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

[[maybe_unused]] void* AllocateOrThrow(std::size_t bytes) {
  void* p = Allocate(bytes);
  if (p == nullptr)
    throw std::bad_alloc();
  return p;
}

[[maybe_unused]] void* AllocateAligned(std::size_t bytes, std::align_val_t align) noexcept {
  if (bytes >= g_limit.load(std::memory_order_relaxed))
    return nullptr;
  const std::size_t a = static_cast<std::size_t>(align);
  return std::aligned_alloc(a, (std::max<std::size_t>(bytes, 1) + a - 1) / a * a);
}

[[maybe_unused]] void* AllocateAlignedOrThrow(std::size_t bytes, std::align_val_t align) {
  void* p = AllocateAligned(bytes, align);
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

bool AllocationLimitWorks() {
  return VC_TEST_OWN_ALLOCATOR;
}

}  // namespace vc_test

// Every plain and aligned form is replaced, and exported, so that all of the
// process's allocations pair with the same malloc and free, also under the
// sanitizers. The aligned forms are the module's pixel buffers'.
#define VC_TEST_EXPORT __attribute__((visibility("default")))

#if VC_TEST_OWN_ALLOCATOR
using std::align_val_t;
using std::nothrow_t;
using std::size_t;
// clang-format off
VC_TEST_EXPORT void* operator new(size_t n) { return AllocateOrThrow(n); }
VC_TEST_EXPORT void* operator new[](size_t n) { return AllocateOrThrow(n); }
VC_TEST_EXPORT void* operator new(size_t n, const nothrow_t&) noexcept { return Allocate(n); }
VC_TEST_EXPORT void* operator new[](size_t n, const nothrow_t&) noexcept { return Allocate(n); }
VC_TEST_EXPORT void* operator new(size_t n, align_val_t a) { return AllocateAlignedOrThrow(n, a); }
VC_TEST_EXPORT void* operator new[](size_t n, align_val_t a) { return AllocateAlignedOrThrow(n, a); }
VC_TEST_EXPORT void* operator new(size_t n, align_val_t a, const nothrow_t&) noexcept { return AllocateAligned(n, a); }
VC_TEST_EXPORT void* operator new[](size_t n, align_val_t a, const nothrow_t&) noexcept { return AllocateAligned(n, a); }
VC_TEST_EXPORT void operator delete(void* p) noexcept { std::free(p); }
VC_TEST_EXPORT void operator delete[](void* p) noexcept { std::free(p); }
VC_TEST_EXPORT void operator delete(void* p, size_t) noexcept { std::free(p); }
VC_TEST_EXPORT void operator delete[](void* p, size_t) noexcept { std::free(p); }
VC_TEST_EXPORT void operator delete(void* p, const nothrow_t&) noexcept { std::free(p); }
VC_TEST_EXPORT void operator delete[](void* p, const nothrow_t&) noexcept { std::free(p); }
VC_TEST_EXPORT void operator delete(void* p, align_val_t) noexcept { std::free(p); }
VC_TEST_EXPORT void operator delete[](void* p, align_val_t) noexcept { std::free(p); }
VC_TEST_EXPORT void operator delete(void* p, size_t, align_val_t) noexcept { std::free(p); }
VC_TEST_EXPORT void operator delete[](void* p, size_t, align_val_t) noexcept { std::free(p); }
// clang-format on
#endif
