// Test memory whose last byte sits right before a page that may not be
// touched: any access past the end faults.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

class GuardedBuffer {
 public:
  explicit GuardedBuffer(std::size_t size) : size_(size) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t pages = (size + page - 1) / page;
    mapped_ = (pages + 1) * page;
    void* p = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base_ = p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
    if (base_ != nullptr && mprotect(base_ + pages * page, page, PROT_NONE) == 0) {
      data_ = base_ + pages * page - size;
    }
  }
  ~GuardedBuffer() {
    if (base_ != nullptr) {
      munmap(base_, mapped_);
    }
  }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  std::uint8_t* data() const { return data_; }  // null when the mapping failed
  std::size_t size() const { return size_; }

 private:
  std::size_t size_, mapped_;
  std::uint8_t* base_ = nullptr;
  std::uint8_t* data_ = nullptr;
};
