// A mutex and its lock guard that clang's thread-safety analysis can follow,
// so that every locked field names its lock (VC_GUARDED_BY) and the compiler
// checks each access. The guard meets BasicLockable, so it waits on a
// std::condition_variable_any.
#pragma once

#include <mutex>

#include "external/thread_annotations.h"

namespace ksn {

class VC_CAPABILITY("mutex") Mutex {
 public:
  void lock() VC_ACQUIRE() { mutex_.lock(); }
  void unlock() VC_RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

class VC_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) VC_ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() VC_RELEASE() {
    if (held_)
      mutex_.unlock();
  }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  // For condition_variable_any and for work done outside the lock.
  void lock() VC_ACQUIRE() {
    mutex_.lock();
    held_ = true;
  }
  void unlock() VC_RELEASE() {
    held_ = false;
    mutex_.unlock();
  }

 private:
  Mutex& mutex_;
  bool held_ = true;
};

}  // namespace ksn
