// A growable byte buffer that allocates whole blocks, never doubling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>

#include "protocol/block_allocator.h"

namespace sox {

namespace detail {
// Every buffer without storage points here, so data() is never null.
inline std::uint8_t empty_block_storage[1] = {0};
}  // namespace detail

// Each operation returns false when the storage cannot grow (past MaxBlocks
// blocks, or the allocator has nothing), and then changes nothing; the one
// exception is the truncating case of replace(), see there.
template <class Allocator, std::uint32_t MaxBlocks>
class BlockBuffer {
 public:
  static constexpr std::uint32_t block_size = Allocator::block_size;
  static constexpr std::uint32_t max_blocks = MaxBlocks;
  static constexpr std::uint64_t max_capacity = std::uint64_t{block_size} * max_blocks;
  static_assert(max_capacity <= UINT32_MAX, "sizes are 32-bit");

  BlockBuffer() noexcept = default;
  BlockBuffer(const BlockBuffer&) = delete;
  BlockBuffer& operator=(const BlockBuffer&) = delete;
  virtual ~BlockBuffer() { release(); }

  std::uint8_t* data() noexcept { return data_; }
  const std::uint8_t* data() const noexcept { return data_; }
  std::uint32_t size() const noexcept { return size_; }
  std::uint32_t blocks() const noexcept { return blocks_; }
  std::uint32_t capacity() const noexcept { return blocks_ * block_size; }

  // Makes room for n more bytes beyond size(): exactly the blocks needed.
  bool increase_capacity(std::size_t n) {
    if (n == 0)
      return true;
    const std::uint64_t room = std::uint64_t{capacity()} - size_;
    if (room >= n)
      return true;
    // size_ never exceeds the ceiling; saying so keeps the copy below provably
    // in bounds for the compiler as well.
    if (size_ > max_capacity || n > max_capacity - size_)
      return false;
    const std::uint64_t shortfall = n - room;
    const std::uint64_t wanted =
        blocks_ + shortfall / block_size + (shortfall % block_size != 0 ? 1 : 0);
    if (wanted > max_blocks)
      return false;
    auto* storage = static_cast<std::uint8_t*>(Allocator::allocate(wanted * block_size));
    if (storage == nullptr)
      return false;
    if (blocks_ > 0) {
      std::memcpy(storage, data_, size_);
      Allocator::release(data_);
    }
    data_ = storage;
    blocks_ = static_cast<std::uint32_t>(wanted);
    return true;
  }

  // Appends n bytes; src may point into this buffer, even when it must grow.
  bool append(const void* src, std::size_t n) {
    if (n == 0)
      return true;
    auto from = static_cast<const std::uint8_t*>(src);
    if (std::uint64_t{capacity()} - size_ < n) {
      // Growth frees the old storage: follow a source that lives in it.
      const std::less<const std::uint8_t*> before;
      const bool inside = blocks_ > 0 && !before(from, data_) && before(from, data_ + capacity());
      const std::ptrdiff_t at = inside ? from - data_ : 0;
      if (!increase_capacity(n))
        return false;
      if (inside)
        from = data_ + at;
    }
    std::memmove(data_ + size_, from, n);
    size_ += static_cast<std::uint32_t>(n);
    return true;
  }

  // Grows to n bytes with new bytes set to fill, or shortens to n.
  bool resize(std::size_t n, std::uint8_t fill = 0) {
    if (n > size_) {
      if (!increase_capacity(n - size_))
        return false;
      std::memset(data_ + size_, fill, n - size_);
    }
    size_ = static_cast<std::uint32_t>(n);
    return true;
  }

  // pos at or past the end appends; a range that ends before the end is
  // overwritten in place; otherwise the buffer is cut to pos and src appended,
  // so it ends at pos + n. In that last case a failure leaves the buffer cut.
  bool replace(std::size_t pos, const void* src, std::size_t n) {
    if (pos >= size_)
      return append(src, n);
    if (n < size_ - pos) {
      std::memmove(data_ + pos, src, n);
      return true;
    }
    size_ = static_cast<std::uint32_t>(pos);
    return append(src, n);
  }

 private:
  void release() noexcept {
    if (blocks_ > 0) {
      Allocator::release(data_);
      data_ = detail::empty_block_storage;
      blocks_ = 0;
    }
  }

  std::uint8_t* data_ = detail::empty_block_storage;
  std::uint32_t size_ = 0;
  std::uint32_t blocks_ = 0;
};

// The buffer every packet of this system is built in: 16 KiB blocks, at most
// 65536 of them (1 GiB).
using PackBuffer = BlockBuffer<default_block_allocator_malloc_free<16384>, 65536>;

}  // namespace sox
