// The packer's positions and its overflows; the bytes of each field are the
// wire layout test's.
#include "protocol/sox_pack.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocol/block_allocator.h"
#include "protocol/packet_error.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
// At most 64 bytes, so that every overflow is reachable.
using TinyBuffer = sox::BlockBuffer<sox::default_block_allocator_malloc_free<16>, 4>;
using TinyPack = sox::BasicPack<TinyBuffer>;

template <class B>
Bytes Contents(const B& b) {
  return {b.data(), b.data() + b.size()};
}

// The message of the PackError that `op` throws, caught as the family callers
// catch; "" when it throws none.
std::string PackErrorOf(const std::function<void()>& op) {
  try {
    op();
  } catch (const sox::PacketError& e) {
    EXPECT_NE(dynamic_cast<const sox::PackError*>(&e), nullptr);
    return e.what();
  }
  return "";
}

TEST(SoxPackTest, AWriterCountsFromItsOffsetAndReplacesAtAbsolutePositions) {
  sox::PackBuffer bb;
  ASSERT_TRUE(bb.append("abc", 3));
  sox::Pack p(bb, 2);
  EXPECT_EQ(p.offset(), 5u);
  EXPECT_EQ(p.size(), 0u);
  p.push_uint16(0x0201);
  EXPECT_EQ(p.data(), bb.data() + 5);
  EXPECT_EQ(p.size(), 2u);
  EXPECT_EQ(p.replace_uint32(1, 0x04030201), 5u);  // inside the bytes before this writer
  EXPECT_EQ(Contents(bb), (Bytes{'a', 1, 2, 3, 4, 1, 2}));

  sox::PackBuffer small;
  sox::Pack q(small);
  q.push_uint16(0xEEEE);
  q.replace_uint32(0, 0x04030201);
  EXPECT_EQ(Contents(small), (Bytes{1, 2, 3, 4})) << "cut to 0, then appended";
}

TEST(SoxPackTest, OverflowsThrowAndKeepWhatWasWrittenBefore) {
  TinyBuffer tiny;
  EXPECT_EQ(PackErrorOf([&] { TinyPack p(tiny, 65); }), "resize buffer overflow");
  EXPECT_EQ(tiny.size(), 0u);
  EXPECT_EQ(PackErrorOf([&] { TinyPack p(tiny, 64); }), "");
  sox::PackBuffer bb;  // past the real ceiling: refused before any allocation
  EXPECT_EQ(PackErrorOf([&] { sox::Pack p(bb, UINT32_MAX); }), "resize buffer overflow");
  EXPECT_EQ(bb.blocks(), 0u);

  TinyBuffer t;
  TinyPack p(t);
  for (int i = 0; i < 15; ++i)
    p.push_uint32(0x01010101u * static_cast<std::uint32_t>(i));
  EXPECT_EQ(PackErrorOf([&] { p.push_uint64(7); }), "append buffer overflow");
  EXPECT_EQ(t.size(), 60u);
  EXPECT_EQ(PackErrorOf([&] { p.push_uint8(1); }), "");
  // The length prefix fits, the bytes do not: the prefix stays.
  EXPECT_EQ(PackErrorOf([&] { p.push_varstr("abc"); }), "append buffer overflow");
  EXPECT_EQ(t.size(), 63u);
  EXPECT_EQ(t.data()[61], 3);
  // A replace that cannot grow leaves the buffer ending at its position.
  EXPECT_EQ(PackErrorOf([&] { p.replace_uint32(62, 1); }), "replace buffer overflow");
  EXPECT_EQ(t.size(), 62u);
  EXPECT_EQ(PackErrorOf([&] { p.replace_uint32(60, 1); }), "");
  EXPECT_EQ(t.size(), 64u);

  sox::Pack big(bb);
  big.push_varstr(std::string(65535, 'z'));
  EXPECT_EQ(bb.size(), 65537u);
  EXPECT_EQ(PackErrorOf([&] { big.push_varstr(std::string(65536, 'z')); }),
            "push_varstr: varstr too big");
  EXPECT_EQ(bb.size(), 65537u) << "nothing written";
}

}  // namespace
