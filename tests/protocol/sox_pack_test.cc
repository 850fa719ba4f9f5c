// The packer: its buffer's growth, ceiling and refused memory, the writer's
// overflows and the reader's short reads. The bytes of each field, offsets
// and positions are the wire layout test's.
#include "protocol/sox_pack.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "protocol/block_buffer.h"
#include "protocol/packet_error.h"
#include "protocol/sox_unpack.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

template <class B>
Bytes Contents(const B& b) {
  return {b.data(), b.data() + b.size()};
}

// The message of the PacketError of kind `Kind` that `op` throws; "" for none.
template <class Kind = sox::PackError>
std::string ErrorOf(const std::function<void()>& op) {
  try {
    op();
  } catch (const sox::PacketError& e) {
    EXPECT_NE(dynamic_cast<const Kind*>(&e), nullptr);
    return e.what();
  }
  return "";
}

// Real memory, counted; can be told to refuse.
template <std::uint32_t BlockSize>
struct CountingAllocator {
  static constexpr std::uint32_t block_size = BlockSize;
  static inline int releases = 0;
  static inline bool refuse = false;
  static inline std::vector<std::size_t> requests;

  static void* allocate(std::size_t bytes) noexcept {
    requests.push_back(bytes);
    return refuse ? nullptr : std::malloc(bytes);
  }
  static void release(void* p) noexcept {
    ++releases;
    std::free(p);
  }
};

// At most 64 bytes, so that every overflow is reachable.
using TinyBuffer = sox::BlockBuffer<CountingAllocator<16>, 4>;
using Big = CountingAllocator<16384>;
using BigBuffer = sox::BlockBuffer<Big, 65536>;

Bytes Count(std::size_t n, std::uint8_t first = 1) {
  Bytes v(n);
  std::iota(v.begin(), v.end(), first);
  return v;
}

// One allocation of exactly the blocks needed (the wire layout's packets count
// them too), the old storage freed after the copy; 65536 blocks may be asked
// for, 65537 never; a refusal changes nothing; an empty buffer frees nothing.
TEST(SoxPackTest, GrowsByOneAllocationUpToTheCeilingAndARefusalChangesNothing) {
  {
    BigBuffer b;
    EXPECT_NE(b.data(), nullptr);
    const Bytes first = Count(10);
    ASSERT_TRUE(b.append(first.data(), 0));
    ASSERT_TRUE(b.append(first.data(), first.size()));
    ASSERT_TRUE(b.increase_capacity(16384 - 10));  // the free room: no change
    ASSERT_TRUE(b.increase_capacity(3 * 16384));   // shortfall 32778: two and a bit
    EXPECT_EQ(Big::requests, (std::vector<std::size_t>{16384, 4 * 16384}));
    EXPECT_EQ(Big::releases, 1);
    Big::refuse = true;
    EXPECT_FALSE(b.increase_capacity(std::size_t{65536} * 16384 - 10 + 1));  // 65537 blocks
    EXPECT_FALSE(b.increase_capacity(SIZE_MAX));
    EXPECT_FALSE(b.increase_capacity(std::size_t{65536} * 16384 - 10));  // 65536: refused
    EXPECT_EQ(Big::requests, (std::vector<std::size_t>{16384, 4 * 16384, std::size_t{1} << 30}));
    EXPECT_FALSE(b.resize(b.capacity() + 1, 7));
    EXPECT_EQ(b.blocks(), 4u);
    EXPECT_EQ(Contents(b), first);
  }
  EXPECT_EQ(Big::releases, 2);
}

TEST(SoxPackTest, AppendingFromItselfSurvivesGrowth) {
  TinyBuffer b;
  const Bytes bytes = Count(16);
  ASSERT_TRUE(b.append(bytes.data(), bytes.size()));
  // The source is freed by the growth this append needs.
  ASSERT_TRUE(b.append(b.data(), 16));
  ASSERT_TRUE(b.append(b.data() + 8, 16));
  Bytes expected = bytes;
  expected.insert(expected.end(), bytes.begin(), bytes.end());
  expected.insert(expected.end(), bytes.begin() + 8, bytes.end());
  expected.insert(expected.end(), bytes.begin(), bytes.begin() + 8);
  EXPECT_EQ(Contents(b), expected);
}

TEST(SoxPackTest, OverflowsThrowAndKeepWhatWasWrittenBefore) {
  TinyBuffer tiny, t;
  using TinyPack = sox::BasicPack<TinyBuffer>;
  EXPECT_EQ(ErrorOf([&] { TinyPack p(tiny, 65); }), "resize buffer overflow");
  EXPECT_EQ(ErrorOf([&] { TinyPack p(tiny, 64); }), "");
  sox::PackBuffer bb;  // past the real ceiling: refused before any allocation
  EXPECT_EQ(ErrorOf([&] { sox::Pack p(bb, UINT32_MAX); }), "resize buffer overflow");
  TinyPack p(t);
  for (int i = 0; i < 15; ++i)
    p.push_uint32(0);
  EXPECT_EQ(ErrorOf([&] { p.push_uint64(7); }), "append buffer overflow");
  EXPECT_EQ(ErrorOf([&] { p.push_uint8(1); }), "");
  // The length prefix fits, the bytes do not: the prefix stays.
  EXPECT_EQ(ErrorOf([&] { p.push_varstr("abc"); }), "append buffer overflow");
  EXPECT_EQ(t.size(), 63u);
  // A replace that cannot grow leaves the buffer ending at its position.
  EXPECT_EQ(ErrorOf([&] { p.replace_uint32(62, 1); }), "replace buffer overflow");
  EXPECT_EQ(t.size(), 62u);

  // Offsets and absolute positions are the wire layout's; a replace running
  // past the end is cut there and appended.
  sox::Pack big(bb);
  big.push_uint16(0xEEEE).replace_uint32(0, 0x04030201);
  EXPECT_EQ(Contents(bb), (Bytes{1, 2, 3, 4}));
  big.push_varstr(std::string(65535, 'z'));
  EXPECT_EQ(ErrorOf([&] { big.push_varstr(std::string(65536, 'z')); }),
            "push_varstr: varstr too big");
  EXPECT_EQ(bb.size(), 4u + 65537u) << "nothing written";
}

TEST(SoxPackTest, AShortReadThrowsAndLeavesTheReaderAlone) {
  using Pop = std::function<void(sox::Unpack&)>;
  const std::vector<std::tuple<std::uint32_t, Pop, const char*>> cases = {
      {0, [](sox::Unpack& u) { u.pop_uint8(); }, "pop_uint8: not enough data"},
      {1, [](sox::Unpack& u) { u.pop_uint16(); }, "pop_uint16: not enough data"},
      {3, [](sox::Unpack& u) { u.pop_uint32(); }, "pop_uint32: not enough data"},
      {7, [](sox::Unpack& u) { u.pop_uint64(); }, "pop_uint64: not enough data"},
      {4, [](sox::Unpack& u) { u.pop_fetch_ptr(5); }, "pop_fetch_ptr: not enough data"},
  };
  const Bytes bytes(8, 0x11);
  for (const auto& [available, pop, message] : cases) {
    sox::Unpack u(bytes.data(), available);
    EXPECT_EQ(ErrorOf<sox::UnpackError>([&, &pop = pop] { pop(u); }), message);
    EXPECT_EQ(std::tuple(u.data(), u.size()), std::tuple(bytes.data(), available));
  }
  // A varstr copies any bytes; one without all its bytes has consumed its count.
  const Bytes text = {3, 0, 'a', 0, 'b', 5, 0, 'A'};
  sox::Unpack u(text.data(), static_cast<std::uint32_t>(text.size()));
  EXPECT_EQ(u.pop_varstr(), std::string("a\0b", 3));
  EXPECT_EQ(ErrorOf<sox::UnpackError>([&] { u.pop_varstr(); }), "pop_fetch_ptr: not enough data");
  EXPECT_EQ(u.size(), 1u);
}

}  // namespace
