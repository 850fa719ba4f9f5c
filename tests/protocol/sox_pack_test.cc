#include "protocol/sox_pack.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
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

// The message of the PackError that `op` throws, or "" when it throws none.
std::string PackErrorOf(const std::function<void()>& op) {
  try {
    op();
  } catch (const sox::PackError& e) {
    const std::runtime_error& base = e;  // what callers catch
    return base.what();
  }
  return "";
}

struct PushCase {
  const char* name;
  std::function<void(sox::Pack&)> push;
  Bytes plain;
  Bytes swapped;
};

TEST(SoxPackTest, WritesHostOrderOrReversedBytesWithTheSwapFlag) {
  const std::vector<PushCase> cases = {
      {"u8", [](sox::Pack& p) { p.push_uint8(0xAB); }, {0xAB}, {0xAB}},
      {"u16", [](sox::Pack& p) { p.push_uint16(0x0102); }, {0x02, 0x01}, {0x01, 0x02}},
      {"u32 7", [](sox::Pack& p) { p.push_uint32(7); }, {7, 0, 0, 0}, {0, 0, 0, 7}},
      {"u32", [](sox::Pack& p) { p.push_uint32(0x01020304); }, {4, 3, 2, 1}, {1, 2, 3, 4}},
      {"u64 1",
       [](sox::Pack& p) { p.push_uint64(1); },
       {1, 0, 0, 0, 0, 0, 0, 0},
       {0, 0, 0, 0, 0, 0, 0, 1}},
      {"u64 low word first",
       [](sox::Pack& p) { p.push_uint64(0x0102030405060708); },
       {8, 7, 6, 5, 4, 3, 2, 1},
       {1, 2, 3, 4, 5, 6, 7, 8}},
      {"varstr", [](sox::Pack& p) { p.push_varstr("AB"); }, {2, 0, 'A', 'B'}, {0, 2, 'A', 'B'}},
      {"empty varstr", [](sox::Pack& p) { p.push_varstr(""); }, {0, 0}, {0, 0}},
      {"replace_uint32",
       [](sox::Pack& p) {
         p.push_uint32(0);
         p.push_uint8(9);
         p.replace_uint32(0, 0x0A0B0C0D);
       },
       {0x0D, 0x0C, 0x0B, 0x0A, 9},
       {0x0A, 0x0B, 0x0C, 0x0D, 9}},
  };
  for (const PushCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (const bool swap : {false, true}) {
      sox::PackBuffer bb;
      sox::Pack p(bb, 0, swap);
      c.push(p);
      EXPECT_EQ(Contents(bb), swap ? c.swapped : c.plain) << "swap " << swap;
    }
  }
}

TEST(SoxPackTest, AWriterOwnsTheBytesFromItsOffsetOnward) {
  sox::PackBuffer bb;
  ASSERT_TRUE(bb.append("xy", 2));
  sox::Pack p(bb, 3);
  EXPECT_EQ(p.offset(), 5u);
  EXPECT_EQ(p.size(), 0u);
  EXPECT_EQ(Contents(bb), (Bytes{'x', 'y', 0, 0, 0})) << "the reserve is zeroed";
  p.push_uint16(0x0201);
  EXPECT_EQ(p.data(), bb.data() + 5);
  EXPECT_EQ(p.size(), 2u);
  EXPECT_EQ(Bytes(p.data(), p.data() + p.size()), (Bytes{1, 2}));
}

TEST(SoxPackTest, ReplaceUint32UsesAbsolutePositions) {
  sox::PackBuffer bb;
  sox::Pack p(bb);
  for (int i = 0; i < 9; ++i)
    p.push_uint8(0xEE);
  EXPECT_EQ(p.replace_uint32(0, 0x04030201), 4u);
  EXPECT_EQ(Contents(bb), (Bytes{1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));

  sox::PackBuffer small;
  sox::Pack q(small);
  q.push_uint16(0xEEEE);
  EXPECT_EQ(q.replace_uint32(0, 0x04030201), 4u);
  EXPECT_EQ(Contents(small), (Bytes{1, 2, 3, 4})) << "cut to 0, then appended";

  sox::PackBuffer behind;
  ASSERT_TRUE(behind.append("abc", 3));
  sox::Pack r(behind);
  r.push_uint8(0xEE);
  r.replace_uint32(1, 0);  // inside the bytes before this writer
  EXPECT_EQ(Contents(behind), (Bytes{'a', 0, 0, 0, 0}));
  EXPECT_EQ(r.size(), 2u);
}

TEST(SoxPackTest, VarstrTakesAtMost65535Bytes) {
  const std::string longest(65535, 'z');
  sox::PackBuffer bb;
  sox::Pack p(bb);
  p.push_varstr(longest);
  EXPECT_EQ(bb.size(), 65537u);
  EXPECT_EQ(bb.data()[0], 0xFF);
  EXPECT_EQ(bb.data()[1], 0xFF);

  const std::string too_long(65536, 'z');
  EXPECT_EQ(PackErrorOf([&] { p.push_varstr(too_long); }), "push_varstr: varstr too big");
  EXPECT_EQ(bb.size(), 65537u) << "nothing written";
}

TEST(SoxPackTest, ResizeOverflowWhenTheReserveCannotFit) {
  TinyBuffer tiny;
  EXPECT_EQ(PackErrorOf([&] { TinyPack p(tiny, 65); }), "resize buffer overflow");
  EXPECT_EQ(tiny.size(), 0u);
  EXPECT_EQ(PackErrorOf([&] { TinyPack p(tiny, 64); }), "");

  // Past the real ceiling: refused before any allocation.
  sox::PackBuffer bb;
  EXPECT_EQ(PackErrorOf([&] { sox::Pack p(bb, UINT32_MAX); }), "resize buffer overflow");
  EXPECT_EQ(bb.blocks(), 0u);
}

TEST(SoxPackTest, AppendOverflowKeepsEveryByteWrittenBefore) {
  TinyBuffer tiny;
  TinyPack p(tiny);
  for (int i = 0; i < 15; ++i)
    p.push_uint32(0x01010101u * static_cast<std::uint32_t>(i));
  EXPECT_EQ(PackErrorOf([&] { p.push_uint64(7); }), "append buffer overflow");
  EXPECT_EQ(tiny.size(), 60u);
  EXPECT_EQ(PackErrorOf([&] { p.push_uint8(1); }), "");

  // The length prefix fits, the bytes do not: the prefix stays.
  EXPECT_EQ(PackErrorOf([&] { p.push_varstr("abc"); }), "append buffer overflow");
  EXPECT_EQ(tiny.size(), 63u);
  EXPECT_EQ(tiny.data()[61], 3);
  EXPECT_EQ(PackErrorOf([&] { p.push_uint16(1); }), "append buffer overflow");
  EXPECT_EQ(tiny.size(), 63u);
}

TEST(SoxPackTest, ReplaceOverflowLeavesTheBufferEndingAtPos) {
  TinyBuffer tiny;
  TinyPack p(tiny);
  for (int i = 0; i < 16; ++i)
    p.push_uint32(0xEEEEEEEE);
  EXPECT_EQ(PackErrorOf([&] { p.replace_uint32(62, 1); }), "replace buffer overflow");
  EXPECT_EQ(tiny.size(), 62u);
  EXPECT_EQ(PackErrorOf([&] { p.replace_uint32(60, 1); }), "");
  EXPECT_EQ(tiny.size(), 64u);
}

TEST(SoxPackTest, ErrorsFormOneFamilyOfRuntimeErrors) {
  sox::PackBuffer bb;
  sox::Pack p(bb);
  const std::string too_long(65536, 'z');
  EXPECT_THROW(p.push_varstr(too_long), sox::PackError);
  EXPECT_THROW(p.push_varstr(too_long), sox::PacketError);
  EXPECT_THROW(p.push_varstr(too_long), std::runtime_error);
}

}  // namespace
