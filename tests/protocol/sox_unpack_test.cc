#include "protocol/sox_unpack.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/packet_error.h"
#include "protocol/sox_pack.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct PopCase {
  const char* name;
  Bytes bytes;
  std::function<std::uint64_t(sox::Unpack&)> pop;
  std::uint64_t plain;
  std::uint64_t swapped;
};

TEST(SoxUnpackTest, ReadsHostOrderOrReversedBytesWithTheSwapFlag) {
  const std::vector<PopCase> cases = {
      {"u8", {0xAB}, [](sox::Unpack& u) { return u.pop_uint8(); }, 0xAB, 0xAB},
      {"u16", {1, 2}, [](sox::Unpack& u) { return u.pop_uint16(); }, 0x0201, 0x0102},
      {"u32", {7, 0, 0, 0}, [](sox::Unpack& u) { return u.pop_uint32(); }, 7, 0x07000000},
      {"u64",
       {1, 2, 3, 4, 5, 6, 7, 8},
       [](sox::Unpack& u) { return u.pop_uint64(); },
       0x0807060504030201,
       0x0102030405060708},
  };
  for (const PopCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (const bool swap : {false, true}) {
      Bytes bytes = c.bytes;
      bytes.push_back(0x5A);  // one byte more, which stays
      sox::Unpack u(bytes.data(), static_cast<std::uint32_t>(bytes.size()), swap);
      EXPECT_EQ(c.pop(u), swap ? c.swapped : c.plain) << "swap " << swap;
      EXPECT_EQ(u.size(), 1u);
      EXPECT_EQ(u.data(), bytes.data() + c.bytes.size());
    }
  }
}

struct ShortCase {
  const char* name;
  std::uint32_t available;
  std::function<void(sox::Unpack&)> pop;
  const char* message;
};

TEST(SoxUnpackTest, APopWithoutEnoughDataThrowsAndLeavesTheReaderAlone) {
  const std::vector<ShortCase> cases = {
      {"u8 of 0", 0, [](sox::Unpack& u) { u.pop_uint8(); }, "pop_uint8: not enough data"},
      {"u16 of 1", 1, [](sox::Unpack& u) { u.pop_uint16(); }, "pop_uint16: not enough data"},
      {"u32 of 3", 3, [](sox::Unpack& u) { u.pop_uint32(); }, "pop_uint32: not enough data"},
      {"u64 of 7", 7, [](sox::Unpack& u) { u.pop_uint64(); }, "pop_uint64: not enough data"},
      {"fetch 5 of 4", 4, [](sox::Unpack& u) { u.pop_fetch_ptr(5); },
       "pop_fetch_ptr: not enough data"},
      {"varstr without its count", 1, [](sox::Unpack& u) { u.pop_varstr(); },
       "pop_uint16: not enough data"},
  };
  const Bytes bytes(8, 0x11);
  for (const ShortCase& c : cases) {
    SCOPED_TRACE(c.name);
    sox::Unpack u(bytes.data(), c.available);
    try {
      c.pop(u);
      ADD_FAILURE() << "no exception";
    } catch (const sox::UnpackError& e) {
      const std::runtime_error& base = e;
      EXPECT_STREQ(base.what(), c.message);
    }
    EXPECT_EQ(u.size(), c.available);
    EXPECT_EQ(u.data(), bytes.data());
  }
}

TEST(SoxUnpackTest, VarstrWithMissingBytesHasConsumedItsCount) {
  const Bytes bytes = {5, 0, 'A', 'B', 'C'};
  sox::Unpack u(bytes.data(), 5);
  try {
    u.pop_varstr();
    ADD_FAILURE() << "no exception";
  } catch (const sox::UnpackError& e) {
    EXPECT_STREQ(e.what(), "pop_fetch_ptr: not enough data");
  }
  EXPECT_EQ(u.size(), 3u);
}

TEST(SoxUnpackTest, VarstrCopiesAnyBytesIncludingZeros) {
  const Bytes bytes = {3, 0, 'a', 0, 'b', 0, 0, 9};
  sox::Unpack u(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  EXPECT_EQ(u.pop_varstr(), std::string("a\0b", 3));
  EXPECT_EQ(u.pop_varstr(), "");
  EXPECT_EQ(u.pop_uint8(), 9);
  EXPECT_TRUE(u.empty());
}

TEST(SoxUnpackTest, FetchPtrPointsIntoTheCallersBytes) {
  const Bytes bytes = {1, 2, 3, 4};
  sox::Unpack u(bytes.data(), 4);
  EXPECT_EQ(u.pop_fetch_ptr(0), bytes.data());
  EXPECT_EQ(u.pop_fetch_ptr(3), bytes.data());
  EXPECT_EQ(u.pop_fetch_ptr(1), bytes.data() + 3);
  EXPECT_TRUE(u.empty());
}

TEST(SoxUnpackTest, ReadsBackWhatPackWrote) {
  std::mt19937_64 rng(42);
  for (const bool swap : {false, true}) {
    sox::PackBuffer bb;
    sox::Pack p(bb, 0, swap);
    std::vector<std::uint64_t> values;
    for (int i = 0; i < 200; ++i)
      values.push_back(rng());
    for (std::size_t i = 0; i < values.size(); i += 4) {
      p.push_uint8(static_cast<std::uint8_t>(values[i]));
      p.push_uint16(static_cast<std::uint16_t>(values[i + 1]));
      p.push_uint32(static_cast<std::uint32_t>(values[i + 2]));
      p.push_uint64(values[i + 3]);
      p.push_varstr(std::string(values[i] % 40, static_cast<char>(i)));
    }
    sox::Unpack u(p.data(), p.size(), swap);
    for (std::size_t i = 0; i < values.size(); i += 4) {
      EXPECT_EQ(u.pop_uint8(), static_cast<std::uint8_t>(values[i]));
      EXPECT_EQ(u.pop_uint16(), static_cast<std::uint16_t>(values[i + 1]));
      EXPECT_EQ(u.pop_uint32(), static_cast<std::uint32_t>(values[i + 2]));
      EXPECT_EQ(u.pop_uint64(), values[i + 3]);
      EXPECT_EQ(u.pop_varstr(), std::string(values[i] % 40, static_cast<char>(i)));
    }
    EXPECT_TRUE(u.empty());
  }
}

}  // namespace
