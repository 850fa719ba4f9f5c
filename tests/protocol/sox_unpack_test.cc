// The reader's short reads and its agreement with the packer; the bytes of
// each field are the wire layout test's.
#include "protocol/sox_unpack.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "protocol/packet_error.h"
#include "protocol/sox_pack.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

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
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(u.size(), c.available);
    EXPECT_EQ(u.data(), bytes.data());
  }
}

TEST(SoxUnpackTest, VarstrCopiesAnyBytesAndFetchPointsIntoTheCallersBytes) {
  const Bytes bytes = {3, 0, 'a', 0, 'b', 0, 0, 9, 5, 0, 'A'};
  sox::Unpack u(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  EXPECT_EQ(u.pop_varstr(), std::string("a\0b", 3));
  EXPECT_EQ(u.pop_varstr(), "");
  EXPECT_EQ(u.pop_fetch_ptr(0), bytes.data() + 7);
  EXPECT_EQ(u.pop_fetch_ptr(1), bytes.data() + 7);
  // A varstr without all its bytes has consumed its count.
  EXPECT_THROW(u.pop_varstr(), sox::UnpackError);
  EXPECT_EQ(u.size(), 1u);
}

TEST(SoxUnpackTest, ReadsBackWhatPackWroteInEitherOrder) {
  for (const bool swap : {false, true}) {
    sox::PackBuffer bb;
    sox::Pack p(bb, 0, swap);
    p.push_uint8(0xA1);
    p.push_uint16(0xB1B2);
    p.push_uint32(0xC1C2C3C4);
    p.push_uint64(0xD1D2D3D4D5D6D7D8);
    p.push_varstr("xy");
    sox::Unpack u(p.data(), p.size(), swap);
    EXPECT_EQ(u.pop_uint8(), 0xA1);
    EXPECT_EQ(u.pop_uint16(), 0xB1B2);
    EXPECT_EQ(u.pop_uint32(), 0xC1C2C3C4);
    EXPECT_EQ(u.pop_uint64(), 0xD1D2D3D4D5D6D7D8);
    EXPECT_EQ(u.pop_varstr(), "xy");
    EXPECT_TRUE(u.empty());
  }
}

}  // namespace
