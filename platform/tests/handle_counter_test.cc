// The window handle counter: forward only, never 0, never a live handle.
#include "handle_counter.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using plat::internal::HandleCounter;

TEST(HandleCounterTest, CountsUpFromOne) {
  HandleCounter counter;
  auto none_live = [](std::uint32_t) { return false; };
  EXPECT_EQ(counter.Next(none_live), 1u);
  EXPECT_EQ(counter.Next(none_live), 2u);
  EXPECT_EQ(counter.Next(none_live), 3u);
}

TEST(HandleCounterTest, WrapsPastZeroAndSkipsLiveHandles) {
  HandleCounter counter(0xFFFFFFFEu);
  const std::set<std::uint32_t> live = {0xFFFFFFFFu, 1u, 2u, 4u};
  auto is_live = [&](std::uint32_t h) { return live.count(h) != 0; };
  EXPECT_EQ(counter.Next(is_live), 0xFFFFFFFEu);
  EXPECT_EQ(counter.Next(is_live), 3u);
  EXPECT_EQ(counter.Next(is_live), 5u);
}

}  // namespace
