// Blocks of the packer's buffer: exact growth, its ceiling, refused memory,
// and where appended or replacing bytes land.
#include "protocol/block_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <vector>

namespace {

// Real memory, counted; can be told to refuse.
template <std::uint32_t BlockSize>
struct CountingAllocator {
  static constexpr std::uint32_t block_size = BlockSize;
  static inline int allocations = 0;
  static inline int releases = 0;
  static inline bool refuse = false;
  static inline std::vector<std::size_t> requests;

  static void Reset() {
    allocations = releases = 0;
    refuse = false;
    requests.clear();
  }
  static void* allocate(std::size_t bytes) noexcept {
    requests.push_back(bytes);
    if (refuse)
      return nullptr;
    ++allocations;
    return std::malloc(bytes);
  }
  static void release(void* p) noexcept {
    ++releases;
    std::free(p);
  }
};

using Tiny = CountingAllocator<16>;
using TinyBuffer = sox::BlockBuffer<Tiny, 4>;  // at most 64 bytes
using Big = CountingAllocator<16384>;
using BigBuffer = sox::BlockBuffer<Big, 65536>;

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t first = 1) {
  std::vector<std::uint8_t> v(n);
  std::iota(v.begin(), v.end(), first);
  return v;
}

template <class B>
std::vector<std::uint8_t> Contents(const B& b) {
  return {b.data(), b.data() + b.size()};
}

class BlockBufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Tiny::Reset();
    Big::Reset();
  }
};

TEST_F(BlockBufferTest, NewBufferIsEmptyButNeverNullAndFreesNothing) {
  {
    BigBuffer b;
    BigBuffer other;
    EXPECT_EQ(b.size() + b.blocks() + b.capacity(), 0u);
    EXPECT_NE(b.data(), nullptr);
    EXPECT_EQ(b.data(), other.data()) << "one shared empty storage";
  }
  EXPECT_EQ(Big::allocations + Big::releases, 0);
}

// Appends in turn to one buffer; after each, the expected result and blocks.
struct GrowthCase {
  const char* name;
  std::vector<std::size_t> appends;
  std::vector<bool> ok;
  std::vector<std::uint32_t> blocks;
};

TEST_F(BlockBufferTest, GrowsToExactlyTheBlocksNeeded) {
  const std::vector<GrowthCase> cases = {
      {"zero bytes allocate nothing", {0}, {true}, {0}},
      {"one byte takes one block", {1}, {true}, {1}},
      {"a full block", {16}, {true}, {1}},
      {"one past a block", {17}, {true}, {2}},
      {"filling the free room", {10, 6}, {true, true}, {1, 1}},
      {"shortfall of a few bytes adds one block", {10, 10}, {true, true}, {1, 2}},
      {"no doubling", {16, 16, 16, 1}, {true, true, true, true}, {1, 2, 3, 4}},
      {"a shortfall of whole blocks", {1, 47}, {true, true}, {1, 3}},
      {"the ceiling itself", {64}, {true}, {4}},
      {"past the ceiling at once", {65}, {false}, {0}},
      {"past the ceiling on the way", {60, 4, 1}, {true, true, false}, {4, 4, 4}},
  };
  for (const GrowthCase& c : cases) {
    SCOPED_TRACE(c.name);
    Tiny::Reset();
    TinyBuffer b;
    std::vector<std::uint8_t> expected;
    for (std::size_t i = 0; i < c.appends.size(); ++i) {
      const auto bytes = Bytes(c.appends[i], static_cast<std::uint8_t>(i * 50));
      EXPECT_EQ(b.append(bytes.data(), bytes.size()), c.ok[i]) << "append " << i;
      if (c.ok[i])
        expected.insert(expected.end(), bytes.begin(), bytes.end());
      EXPECT_EQ(b.blocks(), c.blocks[i]) << "append " << i;
      EXPECT_EQ(Contents(b), expected) << "append " << i;
    }
  }
}

TEST_F(BlockBufferTest, EachGrowthIsOneAllocationOfTheWholeNewSizeAndAllIsFreed) {
  {
    BigBuffer b;
    const auto first = Bytes(10);
    ASSERT_TRUE(b.append(first.data(), first.size()));
    ASSERT_TRUE(b.increase_capacity(3 * 16384));  // shortfall 32778: two and a bit
    EXPECT_EQ(b.blocks(), 4u);
    EXPECT_EQ(Big::requests, (std::vector<std::size_t>{16384, 4 * 16384}));
    EXPECT_EQ(Big::releases, 1) << "the old storage is freed after the copy";
    EXPECT_EQ(Contents(b), first) << "bytes in use survive growth";
    ASSERT_TRUE(b.increase_capacity(3 * 16384)) << "room enough: no change";
  }
  EXPECT_EQ(Big::allocations, 2);
  EXPECT_EQ(Big::releases, 2);
}

TEST_F(BlockBufferTest, TheRealCeilingAllowsExactly65536Blocks) {
  BigBuffer b;
  // 65536 blocks reach the allocator (which refuses here); 65537 never do.
  Big::refuse = true;
  EXPECT_FALSE(b.increase_capacity(std::size_t{65536} * 16384));
  EXPECT_FALSE(b.increase_capacity(std::size_t{65536} * 16384 + 1));
  EXPECT_FALSE(b.increase_capacity(SIZE_MAX));
  EXPECT_EQ(Big::requests, (std::vector<std::size_t>{std::size_t{1} << 30}));
  EXPECT_EQ(b.blocks() + b.size(), 0u);
}

TEST_F(BlockBufferTest, AnAllocatorThatRefusesChangesNothing) {
  TinyBuffer b;
  const auto first = Bytes(16);
  ASSERT_TRUE(b.append(first.data(), first.size()));
  Tiny::refuse = true;
  EXPECT_FALSE(b.append(first.data(), 1));
  EXPECT_FALSE(b.resize(20, 7));
  EXPECT_EQ(b.blocks(), 1u);
  EXPECT_EQ(Contents(b), first);
}

TEST_F(BlockBufferTest, AppendingFromItselfSurvivesGrowth) {
  TinyBuffer b;
  const auto bytes = Bytes(16);
  ASSERT_TRUE(b.append(bytes.data(), bytes.size()));
  // The source is freed by the growth this append needs.
  ASSERT_TRUE(b.append(b.data(), 16));
  ASSERT_TRUE(b.append(b.data() + 8, 16));
  std::vector<std::uint8_t> expected = bytes;
  expected.insert(expected.end(), bytes.begin(), bytes.end());
  expected.insert(expected.end(), bytes.begin() + 8, bytes.end());
  expected.insert(expected.end(), bytes.begin(), bytes.begin() + 8);
  EXPECT_EQ(Contents(b), expected);
}

struct ReplaceCase {
  const char* name;
  std::size_t initial;
  std::size_t pos;
  std::size_t n;
  std::vector<std::uint8_t> expected;  // contents after, with initial = 1, 2, 3...
};

TEST_F(BlockBufferTest, ReplaceOverwritesAppendsOrCuts) {
  const std::vector<ReplaceCase> cases = {
      {"inside: overwrite in place", 6, 1, 2, {1, 0xA0, 0xA1, 4, 5, 6}},
      {"ending exactly at the end: cut and append", 6, 4, 2, {1, 2, 3, 4, 0xA0, 0xA1}},
      {"running past the end: cut and append", 4, 2, 4, {1, 2, 0xA0, 0xA1, 0xA2, 0xA3}},
      {"at the end: append", 2, 2, 2, {1, 2, 0xA0, 0xA1}},
      {"past the end: still appended at the end", 2, 9, 2, {1, 2, 0xA0, 0xA1}},
  };
  for (const ReplaceCase& c : cases) {
    SCOPED_TRACE(c.name);
    TinyBuffer b;
    const auto initial = Bytes(c.initial);
    const auto src = Bytes(c.n, 0xA0);
    ASSERT_TRUE(b.append(initial.data(), initial.size()));
    EXPECT_TRUE(b.replace(c.pos, src.data(), src.size()));
    EXPECT_EQ(Contents(b), c.expected);
  }
}

}  // namespace
