// The owner-thread rule of a class, checked. A class that documents "used
// only on the thread that created it" holds a ThreadChecker, marks the fields
// that rule guards VC_GUARDED_BY(checker_) and opens each operation with
// VC_DCHECK_RUN_ON(&checker_). Debug builds abort with the caller's place when
// another thread calls; release builds compile the check away, while clang's
// analysis still sees the capability in every build.
#pragma once

#include <thread>

#include "external/thread_annotations.h"

namespace COMM {

class VC_CAPABILITY("thread") ThreadChecker {
 public:
  ThreadChecker() : owner_(std::this_thread::get_id()) {}

  bool IsCurrent() const { return owner_ == std::this_thread::get_id(); }
  // For an object built on one thread and handed to its owner before use.
  void Rebind() { owner_ = std::this_thread::get_id(); }

 private:
  std::thread::id owner_;
};

namespace internal {
// Tells clang the capability is held after a successful check.
inline void AssertRunOn(const ThreadChecker* checker) VC_ASSERT_CAPABILITY(checker) {}
[[noreturn]] void ThreadCheckFailed(const char* file, int line);
}  // namespace internal

}  // namespace COMM

#ifdef NDEBUG
#define VC_DCHECK_RUN_ON(checker) ::COMM::internal::AssertRunOn(checker)
#else
#define VC_DCHECK_RUN_ON(checker)                              \
  do {                                                         \
    if (!(checker)->IsCurrent())                               \
      ::COMM::internal::ThreadCheckFailed(__FILE__, __LINE__); \
    ::COMM::internal::AssertRunOn(checker);                    \
  } while (0)
#endif
