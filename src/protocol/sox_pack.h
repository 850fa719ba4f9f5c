// The writer: fixed-width integers and length-prefixed byte strings appended
// to a BlockBuffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/block_buffer.h"
#include "protocol/byte_order.h"
#include "protocol/packet_error.h"

namespace sox {

// Writes at the end of a buffer it does not own. Its own bytes are those from
// the buffer's size at construction (plus the reserve) to the buffer's end.
// Every failure throws PackError; bytes appended before the failing one stay.
template <class Buffer>
class BasicPack {
 public:
  // The longest byte string push_varstr takes: its length travels as a u16.
  static constexpr std::size_t max_varstr = 65535;

  // Reserves `reserve` zero bytes at the start of this writer's bytes.
  explicit BasicPack(Buffer& bb, std::uint32_t reserve = 0, bool swap = false)
      : swap_(swap ? 1 : 0), bb_(bb), offset_(0) {
    const std::uint64_t offset = std::uint64_t{bb.size()} + reserve;
    if (offset > UINT32_MAX || !bb_.resize(static_cast<std::size_t>(offset))) {
      throw PackError("resize buffer overflow");
    }
    offset_ = static_cast<std::uint32_t>(offset);
  }
  BasicPack(const BasicPack&) = delete;
  BasicPack& operator=(const BasicPack&) = delete;
  virtual ~BasicPack() = default;

  BasicPack& push_uint8(std::uint8_t v) { return push_integer(v); }
  BasicPack& push_uint16(std::uint16_t v) { return push_integer(v); }
  BasicPack& push_uint32(std::uint32_t v) { return push_integer(v); }
  BasicPack& push_uint64(std::uint64_t v) { return push_integer(v); }

  // A u16 byte count, then the bytes. Too long a string writes nothing.
  BasicPack& push_varstr(const void* bytes, std::size_t len) {
    if (len > max_varstr)
      throw PackError("push_varstr: varstr too big");
    push_uint16(static_cast<std::uint16_t>(len));
    append(bytes, len);
    return *this;
  }
  BasicPack& push_varstr(std::string_view s) { return push_varstr(s.data(), s.size()); }

  // Writes v at the absolute buffer position pos (not relative to this
  // writer's bytes) through BlockBuffer::replace; returns pos + 4.
  std::size_t replace_uint32(std::size_t pos, std::uint32_t v) {
    if (swap_)
      v = byte_swap(v);
    if (!bb_.replace(pos, &v, sizeof v))
      throw PackError("replace buffer overflow");
    return pos + sizeof v;
  }

  // This writer's bytes.
  const std::uint8_t* data() const { return bb_.data() + offset_; }
  std::uint32_t size() const { return bb_.size() > offset_ ? bb_.size() - offset_ : 0; }
  // Where this writer's bytes begin in the buffer.
  std::uint32_t offset() const { return offset_; }
  Buffer& buffer() const { return bb_; }

 private:
  template <class T>
  BasicPack& push_integer(T v) {
    if (swap_)
      v = byte_swap(v);
    append(&v, sizeof v);
    return *this;
  }
  void append(const void* bytes, std::size_t n) {
    if (!bb_.append(bytes, n))
      throw PackError("append buffer overflow");
  }

  std::uint32_t swap_;
  Buffer& bb_;
  std::uint32_t offset_;
};

using Pack = BasicPack<PackBuffer>;

}  // namespace sox
