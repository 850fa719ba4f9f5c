// Regions: rectangle sets, combining, hit tests, and who owns a region.
#include <gtest/gtest.h>

#include "plat/plat.h"
#include "test_window.h"

namespace {

using plat_test::TestClass;

// Painting through regions (their edges and corner order) is the GDI tests'.
TEST(RegionTest, CombineCopiesOrUnitesAndRefusesOtherModesAndDeletedRegions) {
  const plat::HRGN a = plat::CreateRectRgn(0, 0, 10, 10);
  const plat::HRGN b = plat::CreateRectRgn(30, 10, 20, 0);
  const plat::HRGN dest = plat::CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(plat::CombineRgn(dest, dest, nullptr, plat::RGN_COPY), plat::NULLREGION);
  EXPECT_EQ(plat::CombineRgn(dest, a, nullptr, plat::RGN_COPY), plat::SIMPLEREGION);
  EXPECT_EQ(plat::CombineRgn(dest, dest, b, plat::RGN_OR), plat::COMPLEXREGION);
  EXPECT_TRUE(plat::PtInRegion(dest, 25, 5));
  EXPECT_FALSE(plat::PtInRegion(dest, 15, 5));
  EXPECT_EQ(plat::CombineRgn(a, a, dest, plat::RGN_OR), plat::COMPLEXREGION);
  for (int mode : {plat::RGN_AND, plat::RGN_DIFF})
    EXPECT_EQ(plat::CombineRgn(dest, a, b, mode), plat::ERROR_REGION);
  EXPECT_EQ(plat::CombineRgn(dest, a, nullptr, plat::RGN_OR), plat::ERROR_REGION);
  EXPECT_TRUE(plat::DeleteObject(b));
  EXPECT_FALSE(plat::DeleteObject(b));  // a deleted region is no region any more
  EXPECT_FALSE(plat::PtInRegion(b, 25, 5));
  EXPECT_EQ(plat::CombineRgn(dest, b, nullptr, plat::RGN_COPY), plat::ERROR_REGION);
  EXPECT_TRUE(plat::PtInRegion(dest, 25, 5));  // untouched by the failures
  EXPECT_TRUE(plat::DeleteObject(a));
  EXPECT_TRUE(plat::DeleteObject(dest));
}

TEST(RegionTest, TheWindowOwnsARegionOnceGiven) {
  TestClass cls;
  const plat::HWND hwnd = cls.Create(nullptr, plat::WS_VISIBLE, 10, 10);
  const plat::HRGN given = plat::CreateRectRgn(1, 1, 5, 5);
  EXPECT_EQ(plat::SetWindowRgn(hwnd, given, true), 1);
  EXPECT_FALSE(plat::DeleteObject(given));              // no longer the caller's
  EXPECT_EQ(plat::SetWindowRgn(hwnd, given, true), 0);  // nor can it be given twice
  const plat::HRGN copy = plat::CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(plat::GetWindowRgn(hwnd, copy), plat::SIMPLEREGION);
  EXPECT_TRUE(plat::PtInRegion(copy, 4, 4));
  EXPECT_FALSE(plat::PtInRegion(copy, 5, 5));

  // The next region replaces (and frees) the first; the last goes with the window.
  EXPECT_EQ(plat::SetWindowRgn(hwnd, plat::CreateRectRgn(0, 0, 2, 2), false), 1);
  EXPECT_EQ(plat::GetWindowRgn(hwnd, copy), plat::SIMPLEREGION);
  EXPECT_FALSE(plat::PtInRegion(copy, 4, 4));
  EXPECT_EQ(plat::GetWindowRgn(hwnd, nullptr), plat::ERROR_REGION);
  EXPECT_EQ(plat::SetWindowRgn(hwnd, nullptr, true), 1);
  EXPECT_EQ(plat::GetWindowRgn(hwnd, copy), plat::ERROR_REGION);
  EXPECT_EQ(plat::SetWindowRgn(hwnd, plat::CreateRectRgn(0, 0, 3, 3), true), 1);
  EXPECT_TRUE(plat::DestroyWindow(hwnd));

  // Given to a dead window, a region is still taken (and freed).
  const plat::HRGN lost = plat::CreateRectRgn(0, 0, 1, 1);
  EXPECT_EQ(plat::SetWindowRgn(hwnd, lost, true), 0);
  EXPECT_FALSE(plat::DeleteObject(lost));
  EXPECT_TRUE(plat::DeleteObject(copy));
}

}  // namespace
