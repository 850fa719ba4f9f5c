// Regions: rectangle sets, combining, hit tests, and who owns a region.
#include <gtest/gtest.h>

#include "plat/plat.h"
#include "test_window.h"

namespace {

using plat_test::Recorder;
using plat_test::TestClass;

TEST(RegionTest, RectangleEdgesAndCornerOrder) {
  const plat::HRGN region = plat::CreateRectRgn(10, 20, 30, 40);
  EXPECT_TRUE(plat::PtInRegion(region, 10, 20));
  EXPECT_TRUE(plat::PtInRegion(region, 29, 39));
  EXPECT_FALSE(plat::PtInRegion(region, 30, 39));
  EXPECT_FALSE(plat::PtInRegion(region, 29, 40));
  EXPECT_FALSE(plat::PtInRegion(region, 9, 25));
  const plat::HRGN swapped = plat::CreateRectRgn(30, 40, 10, 20);
  EXPECT_TRUE(plat::PtInRegion(swapped, 10, 20));
  EXPECT_FALSE(plat::PtInRegion(swapped, 30, 40));
  EXPECT_TRUE(plat::DeleteObject(region));
  EXPECT_TRUE(plat::DeleteObject(swapped));
}

TEST(RegionTest, CombineCopiesAndUnites) {
  const plat::HRGN a = plat::CreateRectRgn(0, 0, 10, 10);
  const plat::HRGN b = plat::CreateRectRgn(20, 0, 30, 10);
  const plat::HRGN empty = plat::CreateRectRgn(5, 5, 5, 9);
  const plat::HRGN dest = plat::CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(plat::CombineRgn(dest, empty, nullptr, plat::RGN_COPY), plat::NULLREGION);
  EXPECT_EQ(plat::CombineRgn(dest, a, nullptr, plat::RGN_COPY), plat::SIMPLEREGION);
  EXPECT_TRUE(plat::PtInRegion(dest, 5, 5));
  EXPECT_EQ(plat::CombineRgn(dest, a, b, plat::RGN_OR), plat::COMPLEXREGION);
  EXPECT_TRUE(plat::PtInRegion(dest, 5, 5));
  EXPECT_TRUE(plat::PtInRegion(dest, 25, 5));
  EXPECT_FALSE(plat::PtInRegion(dest, 15, 5));
  // A rectangle inside the set adds nothing; the destination may be a source.
  const plat::HRGN inner = plat::CreateRectRgn(2, 2, 4, 4);
  EXPECT_EQ(plat::CombineRgn(a, a, inner, plat::RGN_OR), plat::SIMPLEREGION);
  EXPECT_EQ(plat::CombineRgn(inner, inner, a, plat::RGN_OR), plat::SIMPLEREGION);
  EXPECT_TRUE(plat::PtInRegion(inner, 9, 9));
  for (plat::HRGN r : {a, b, empty, dest, inner})
    EXPECT_TRUE(plat::DeleteObject(r));
}

TEST(RegionTest, UnsupportedModesAndUnknownHandlesAreErrors) {
  const plat::HRGN a = plat::CreateRectRgn(0, 0, 10, 10);
  const plat::HRGN dest = plat::CreateRectRgn(0, 0, 1, 1);
  EXPECT_EQ(plat::CombineRgn(dest, a, a, plat::RGN_AND), plat::ERROR_REGION);
  EXPECT_EQ(plat::CombineRgn(dest, a, a, plat::RGN_DIFF), plat::ERROR_REGION);
  EXPECT_EQ(plat::CombineRgn(dest, a, nullptr, plat::RGN_OR), plat::ERROR_REGION);
  EXPECT_EQ(plat::CombineRgn(nullptr, a, nullptr, plat::RGN_COPY), plat::ERROR_REGION);
  EXPECT_TRUE(plat::PtInRegion(dest, 0, 0));  // untouched by the failures
  EXPECT_FALSE(plat::PtInRegion(dest, 5, 5));
  EXPECT_FALSE(plat::PtInRegion(nullptr, 0, 0));
  EXPECT_TRUE(plat::DeleteObject(a));
  // A deleted region is no region any more.
  EXPECT_FALSE(plat::DeleteObject(a));
  EXPECT_FALSE(plat::PtInRegion(a, 5, 5));
  EXPECT_EQ(plat::CombineRgn(dest, a, nullptr, plat::RGN_COPY), plat::ERROR_REGION);
  EXPECT_FALSE(plat::DeleteObject(nullptr));
  EXPECT_TRUE(plat::DeleteObject(dest));
}

TEST(RegionTest, TheWindowOwnsARegionOnceGiven) {
  TestClass cls;
  Recorder recorder;
  const plat::HWND hwnd = cls.Create(&recorder, plat::WS_VISIBLE, 10, 10);
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
  EXPECT_EQ(plat::SetWindowRgn(hwnd, nullptr, true), 1);
  EXPECT_EQ(plat::GetWindowRgn(hwnd, copy), plat::ERROR_REGION);
  EXPECT_EQ(plat::SetWindowRgn(hwnd, plat::CreateRectRgn(0, 0, 3, 3), true), 1);
  EXPECT_EQ(plat::GetWindowRgn(hwnd, nullptr), plat::ERROR_REGION);
  EXPECT_TRUE(plat::DestroyWindow(hwnd));
  EXPECT_EQ(plat::GetWindowRgn(hwnd, copy), plat::ERROR_REGION);

  // Given to a dead window, a region is still taken (and freed).
  const plat::HRGN lost = plat::CreateRectRgn(0, 0, 1, 1);
  EXPECT_EQ(plat::SetWindowRgn(hwnd, lost, true), 0);
  EXPECT_FALSE(plat::DeleteObject(lost));
  EXPECT_TRUE(plat::DeleteObject(copy));
}

TEST(RegionTest, HiddenWindowsKeepRegionsToo) {
  TestClass cls;
  Recorder recorder;
  const plat::HWND hwnd = cls.Create(&recorder);
  EXPECT_EQ(plat::SetWindowRgn(hwnd, plat::CreateRectRgn(0, 0, 4, 4), true), 1);
  const plat::HRGN copy = plat::CreateRectRgn(0, 0, 0, 0);
  EXPECT_EQ(plat::GetWindowRgn(hwnd, copy), plat::SIMPLEREGION);
  EXPECT_TRUE(plat::DeleteObject(copy));
  EXPECT_TRUE(plat::DestroyWindow(hwnd));
}

}  // namespace
