// The reader: fixed-width integers and length-prefixed byte strings taken
// from the front of a byte range it does not own.
#pragma once

#include <cstdint>
#include <string>

namespace sox {

// Every pop checks first: a failure throws UnpackError and leaves the reader
// where it was. Nothing is copied except by pop_varstr.
class Unpack {
 public:
  Unpack(const void* data, std::uint32_t size, bool swap = false) noexcept;
  Unpack(const Unpack&) = delete;
  Unpack& operator=(const Unpack&) = delete;
  virtual ~Unpack();

  std::uint8_t pop_uint8();
  std::uint16_t pop_uint16();
  std::uint32_t pop_uint32();
  std::uint64_t pop_uint64();
  // The next n bytes, in place.
  const std::uint8_t* pop_fetch_ptr(std::uint32_t n);
  // A u16 byte count, then that many bytes, copied out (zero bytes included).
  // When the bytes are missing the count has already been consumed.
  std::string pop_varstr();

  // What is left to read.
  const std::uint8_t* data() const noexcept { return data_; }
  std::uint32_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }

 private:
  template <class T>
  T pop_integer(const char* failure);

  std::uint32_t swap_;
  const std::uint8_t* data_;
  std::uint32_t size_;
};

}  // namespace sox
