// Regions as the host combines and hit-tests them: rectangle sets whose right
// and bottom edges lie outside. Painting through them is the GDI tests'.
#include <gtest/gtest.h>

#include <tuple>

#include "plat/plat.h"

namespace {

TEST(RegionTest, CombineUnitesCopiesAndHitTestsStopAtTheRightAndBottomEdges) {
  const plat::HRGN a = plat::CreateRectRgn(0, 0, 10, 10);
  const plat::HRGN b = plat::CreateRectRgn(30, 10, 20, 0);  // corners in any order
  const plat::HRGN dest = plat::CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(plat::CombineRgn(dest, a, nullptr, plat::RGN_COPY), plat::SIMPLEREGION);
  EXPECT_EQ(plat::CombineRgn(dest, dest, b, plat::RGN_OR), plat::COMPLEXREGION);
  for (auto [x, y, inside] : {std::tuple{0, 0, true},
                              {9, 9, true},
                              {10, 5, false},
                              {5, 10, false},
                              {15, 5, false},
                              {20, 0, true},
                              {29, 9, true},
                              {25, -1, false}})
    EXPECT_EQ(plat::PtInRegion(dest, x, y), inside) << x << "," << y;
  for (int mode : {plat::RGN_AND, plat::RGN_DIFF})
    EXPECT_EQ(plat::CombineRgn(dest, a, b, mode), plat::ERROR_REGION);
  EXPECT_TRUE(plat::DeleteObject(b));
  EXPECT_FALSE(plat::DeleteObject(b));  // a deleted region is no region any more
  EXPECT_EQ(plat::CombineRgn(dest, b, nullptr, plat::RGN_COPY), plat::ERROR_REGION);
  EXPECT_TRUE(plat::PtInRegion(dest, 25, 5));  // untouched by the failures
  EXPECT_TRUE(plat::DeleteObject(a));
  EXPECT_TRUE(plat::DeleteObject(dest));
}

}  // namespace
