// Replaces the C allocator's entry points for this benchmark binary and
// forwards them to glibc's own. The definitions are exported, so that the
// shared libraries (libstdc++'s operator new among them) call them too.
#include "malloc_counter.h"

#include <atomic>
#include <cstddef>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void __libc_free(void* p);
}

namespace {
std::atomic<std::uint64_t> allocations{0};
}  // namespace

namespace bench {
std::uint64_t AllocationCount() {
  return allocations.load(std::memory_order_relaxed);
}
}  // namespace bench

#define VC_EXPORT __attribute__((visibility("default")))

extern "C" {

VC_EXPORT void* malloc(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}

VC_EXPORT void* calloc(std::size_t count, std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}

VC_EXPORT void* realloc(void* p, std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, size);
}

VC_EXPORT void free(void* p) {
  __libc_free(p);
}

}  // extern "C"
