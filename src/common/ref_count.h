// Intrusive reference counts. A counted object starts with one reference (its
// creator's); the last Release deletes it through its virtual destructor.
#pragma once

#include <atomic>
#include <cstdint>

namespace COMM {

// Interlocked count: for objects shared across threads (the peer-network
// library's control object and notification sink).
class RefCount {
 public:
  RefCount() = default;
  RefCount(const RefCount&) = delete;
  RefCount& operator=(const RefCount&) = delete;

  void AddRef() { count_.fetch_add(1, std::memory_order_relaxed); }
  void Release() {
    if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1)
      delete this;
  }
  std::int32_t ref_count() const { return count_.load(std::memory_order_relaxed); }

 protected:
  virtual ~RefCount() = default;

 private:
  std::atomic<std::int32_t> count_{1};
};

// Plain count: for objects that live on one thread (sessions, window attributes).
class SimpleRefCount {
 public:
  SimpleRefCount() = default;
  SimpleRefCount(const SimpleRefCount&) = delete;
  SimpleRefCount& operator=(const SimpleRefCount&) = delete;

  void AddRef() { ++count_; }
  void Release() {
    if (--count_ == 0)
      delete this;
  }
  std::int32_t ref_count() const { return count_; }

 protected:
  virtual ~SimpleRefCount() = default;

 private:
  std::int32_t count_ = 1;
};

}  // namespace COMM
