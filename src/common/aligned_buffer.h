// Pixel buffers the module owns (capture samples and frames, the window sets'
// frames, the painter's picture, the small picture): 64-byte aligned, so that
// the vector kernels read and write whole cache lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

struct AlignedFree {
  void operator()(std::uint8_t* p) const { ::operator delete[](p, std::align_val_t{64}); }
};

using AlignedBuffer = std::unique_ptr<std::uint8_t[], AlignedFree>;

// Empty when the memory cannot be had: a dropped frame, not an exception on
// the streaming thread.
inline AlignedBuffer MakeAlignedBuffer(std::size_t bytes) {
  return AlignedBuffer(
      static_cast<std::uint8_t*>(::operator new[](bytes, std::align_val_t{64}, std::nothrow)));
}

// The same, throwing std::bad_alloc where the memory cannot be had.
inline AlignedBuffer MakeAlignedBufferOrThrow(std::size_t bytes) {
  return AlignedBuffer(static_cast<std::uint8_t*>(::operator new[](bytes, std::align_val_t{64})));
}
