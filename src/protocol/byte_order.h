// Byte reversal for the packer's swap flag.
#pragma once

#include <bit>
#include <cstdint>

namespace sox {

// Integers travel in the host's order, and peers expect little-endian bytes.
static_assert(std::endian::native == std::endian::little,
              "the wire format is the host order of a little-endian machine");

inline std::uint8_t byte_swap(std::uint8_t v) noexcept {
  return v;
}
inline std::uint16_t byte_swap(std::uint16_t v) noexcept {
  return __builtin_bswap16(v);
}
inline std::uint32_t byte_swap(std::uint32_t v) noexcept {
  return __builtin_bswap32(v);
}
inline std::uint64_t byte_swap(std::uint64_t v) noexcept {
  return __builtin_bswap64(v);
}

}  // namespace sox
