#include "protocol/sox_unpack.h"

#include <cstring>

#include "protocol/byte_order.h"
#include "protocol/packet_error.h"

namespace sox {

Unpack::Unpack(const void* data, std::uint32_t size, bool swap) noexcept
    : swap_(swap ? 1 : 0), data_(static_cast<const std::uint8_t*>(data)), size_(size) {}

Unpack::~Unpack() {
  data_ = nullptr;
}

template <class T>
T Unpack::pop_integer(const char* failure) {
  if (size_ < sizeof(T))
    throw UnpackError(failure);
  T v;
  std::memcpy(&v, data_, sizeof v);
  data_ += sizeof v;
  size_ -= sizeof v;
  return swap_ ? byte_swap(v) : v;
}

std::uint8_t Unpack::pop_uint8() {
  return pop_integer<std::uint8_t>("pop_uint8: not enough data");
}

std::uint16_t Unpack::pop_uint16() {
  return pop_integer<std::uint16_t>("pop_uint16: not enough data");
}

std::uint32_t Unpack::pop_uint32() {
  return pop_integer<std::uint32_t>("pop_uint32: not enough data");
}

std::uint64_t Unpack::pop_uint64() {
  return pop_integer<std::uint64_t>("pop_uint64: not enough data");
}

const std::uint8_t* Unpack::pop_fetch_ptr(std::uint32_t n) {
  if (size_ < n)
    throw UnpackError("pop_fetch_ptr: not enough data");
  const std::uint8_t* at = data_;
  data_ += n;
  size_ -= n;
  return at;
}

std::string Unpack::pop_varstr() {
  const std::uint16_t n = pop_uint16();
  const std::uint8_t* bytes = pop_fetch_ptr(n);
  return std::string(reinterpret_cast<const char*>(bytes), n);
}

}  // namespace sox
