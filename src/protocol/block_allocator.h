// Where a BlockBuffer's storage comes from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace sox {

// A block allocator names its block size and hands out runs of whole blocks.
// `allocate` may return null; the buffer then reports that it cannot grow.
template <std::uint32_t BlockSize>
struct default_block_allocator_malloc_free {
  static_assert(BlockSize > 0, "a block holds at least one byte");
  static constexpr std::uint32_t block_size = BlockSize;

  static void* allocate(std::size_t bytes) noexcept { return std::malloc(bytes); }
  static void release(void* storage) noexcept { std::free(storage); }
};

}  // namespace sox
