// Replaces the C allocator's entry points for this benchmark binary and
// forwards them to glibc's own. Exported, so that the shared libraries
// (libstdc++'s aligned operator new, GLib) call them too. The aligned forms
// are counted as well: the module's pixel buffers are 64-byte aligned.
#include "allocation_counter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* p);
}

namespace {
std::atomic<std::uint64_t> allocations{0};

void Count() {
  allocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

std::uint64_t bench::HeapAllocations() {
  return allocations.load(std::memory_order_relaxed);
}

#define VC_EXPORT __attribute__((visibility("default")))

extern "C" {

VC_EXPORT void* malloc(std::size_t size) {
  Count();
  return __libc_malloc(size);
}

VC_EXPORT void* calloc(std::size_t count, std::size_t size) {
  Count();
  return __libc_calloc(count, size);
}

VC_EXPORT void* realloc(void* p, std::size_t size) {
  Count();
  return __libc_realloc(p, size);
}

VC_EXPORT void* memalign(std::size_t alignment, std::size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}

VC_EXPORT void* aligned_alloc(std::size_t alignment, std::size_t size) {
  Count();
  return __libc_memalign(alignment, size);
}

VC_EXPORT int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  Count();
  void* p = __libc_memalign(alignment, size);
  if (p == nullptr) {
    return ENOMEM;
  }
  *out = p;
  return 0;
}

VC_EXPORT void free(void* p) {
  __libc_free(p);
}

}  // extern "C"
