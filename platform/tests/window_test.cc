// Window classes and windows: registration, creation, destruction, ownership
// by thread, and every call given a handle it cannot use.
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "plat/plat.h"
#include "test_window.h"

namespace {

using plat_test::Recorder;
using plat_test::TestClass;

plat::HWND CreatePlain(const char* class_name, plat::HINSTANCE instance) {
  return plat::CreateWindow(class_name, "", 0, 0, 0, 0, 0, 0, nullptr, instance, nullptr);
}
int instance_a, instance_b;  // addresses used as instance handles

TEST(WindowClassTest, NamesArePerInstanceAnyCaseAndHeldWhileWindowsLive) {
  plat::WNDCLASS wc;
  wc.lpfnWndProc = &plat::DefWindowProc;
  wc.lpszClassName = "plat_taken";
  wc.hInstance = &instance_a;
  ASSERT_NE(plat::RegisterClass(&wc), 0);
  wc.lpszClassName = "PLAT_TAKEN";
  EXPECT_EQ(plat::RegisterClass(&wc), 0);
  wc.hInstance = &instance_b;
  EXPECT_NE(plat::RegisterClass(&wc), 0);
  EXPECT_TRUE(plat::UnregisterClass("plat_taken", &instance_b));
  const plat::HWND hwnd = CreatePlain("plat_taken", nullptr);  // any instance's class
  EXPECT_EQ(plat::GetClassName(hwnd), "plat_taken");
  EXPECT_FALSE(plat::UnregisterClass("Plat_Taken", &instance_a));
  EXPECT_TRUE(plat::DestroyWindow(hwnd));
  EXPECT_TRUE(plat::UnregisterClass("Plat_Taken", &instance_a));
  EXPECT_EQ(CreatePlain("plat_taken", nullptr), 0u);
}

// Every call that takes a window refuses, harmlessly, one it cannot use.
TEST(WindowHandleTest, CallsGivenANullDeadOrUnknownHandleRefuse) {
  using namespace plat;
  struct Call {
    const char* what;
    bool needs_surface;  // refused for a live window without a pixel surface too
    std::function<bool(HWND)> refused;
  };
#define REFUSES(needs_surface, expr)                   \
  {                                                    \
#expr, needs_surface, [&](HWND b) { return expr; } \
  }
  RECT rect;
  PAINTSTRUCT ps;
  BITMAPINFO bmi;
  bmi.bmiHeader.biWidth = bmi.bmiHeader.biHeight = 1;
  const std::uint32_t pixel = 0;
  std::vector<std::uint32_t> pixels;
  int w = 0;
  MSG msg;
  const std::vector<Call> calls = {
      REFUSES(false, !IsWindow(b)), REFUSES(false, !DestroyWindow(b)),
      REFUSES(false, GetWindowLongPtr(b, GWL_USERDATA) == 0),
      REFUSES(false, SetWindowLongPtr(b, GWL_USERDATA, 5) == 0),
      REFUSES(false, !SetWindowText(b, "x")), REFUSES(false, GetWindowText(b).empty()),
      REFUSES(false, GetClassName(b).empty()), REFUSES(false, !GetClientRect(b, &rect)),
      REFUSES(false, !GetWindowThreadProcessId(b, 0)),
      REFUSES(false, SendMessage(b, WM_USER, 0, 0) == 0),
      REFUSES(false, !PostMessage(b, WM_USER, 0, 0)),
      REFUSES(false, SetTimer(b, 1, 50, nullptr) == 0), REFUSES(false, !KillTimer(b, 1)),
      // Waiting for a window that cannot get messages would wait forever (0 is any window).
      REFUSES(false, b == 0 || GetMessage(&msg, b, 0, 0) == -1),
      REFUSES(false, GetDC(b) == HDC::none), REFUSES(false, BeginPaint(b, &ps) == HDC::none),
      REFUSES(false, !EndPaint(b, &ps)), REFUSES(false, GetWindowRgn(b, nullptr) == ERROR_REGION),
      REFUSES(true, !SetClientSize(b, 10, 10)),
      REFUSES(true, !ReadWindowPixels(b, &pixels, &w, &w)),
      REFUSES(true, !SetDIBitsToDevice(HDC(b), 0, 0, 1, 1, 0, 0, 0, 1, &pixel, &bmi, 0))};
#undef REFUSES
  TestClass cls;
  const HWND dead = cls.Create();
  const HWND hidden = cls.Create();
  ASSERT_TRUE(DestroyWindow(dead));
  for (const Call& call : calls) {
    for (const HWND bad : {HWND{0}, dead, HWND{0xFFFFFFFF}})
      EXPECT_TRUE(call.refused(bad)) << call.what << " of " << bad;
    EXPECT_TRUE(!call.needs_surface || call.refused(hidden)) << call.what << " of a hidden window";
  }
  EXPECT_TRUE(IsWindow(hidden));
  DestroyWindow(hidden);
}

TEST(WindowDestroyTest, DestroyComesOnceWhileValidAndProceduresMayDestroyAnyWindow) {
  TestClass cls;
  Recorder inner;
  Recorder outer;
  plat::HWND child = 0;
  outer.react = [&](plat::HWND hwnd, plat::UINT message, plat::WPARAM, plat::LPARAM) {
    if (message == plat::WM_CREATE)
      child = cls.Create(&inner);
    if (message == plat::WM_DESTROY) {  // the window is still valid, but on its way
      EXPECT_EQ(plat::GetWindowLongPtr(hwnd, plat::GWL_USERDATA),
                reinterpret_cast<plat::LONG_PTR>(&outer));
      EXPECT_FALSE(plat::DestroyWindow(hwnd));
      plat::SendMessage(child, plat::WM_CLOSE, 0, 0);  // closing destroys by default
    }
    if (message == plat::WM_USER) {
      EXPECT_TRUE(plat::DestroyWindow(hwnd));
      return plat::LRESULT{7};
    }
    return plat::LRESULT{0};
  };
  const plat::HWND hwnd = cls.Create(&outer);
  ASSERT_TRUE(plat::PostMessage(hwnd, plat::WM_USER, 0, 0));
  ASSERT_TRUE(plat::PostMessage(hwnd, plat::WM_USER + 1, 0, 0));
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(plat::DispatchMessage(&msg), 7);
  EXPECT_EQ(outer.Count(plat::WM_DESTROY) + inner.Count(plat::WM_DESTROY), 2);
  EXPECT_FALSE(plat::IsWindow(child));
  // Handles are not reused; a message queued for a window since dead reaches nobody.
  const plat::HWND later = cls.Create();
  EXPECT_GT(later, child);
  plat::DestroyWindow(later);
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(plat::DispatchMessage(&msg), 0);
}

TEST(WindowThreadTest, AnotherThreadCanNeitherCallWaitForTimeNorDestroy) {
  TestClass cls;
  Recorder recorder;
  recorder.react = [](plat::HWND, plat::UINT message, plat::WPARAM wparam, plat::LPARAM) {
    return message == plat::WM_USER ? static_cast<plat::LRESULT>(wparam * 2) : 0;
  };
  const plat::HWND hwnd = cls.Create(&recorder, plat::WS_VISIBLE, 4, 4);
  const plat::MSG msg{hwnd, plat::WM_USER, 21, 0, 0};
  ASSERT_TRUE(plat::PostMessage(hwnd, plat::WM_USER, 0, 0));
  std::thread([&] {
    plat::MSG taken;
    EXPECT_TRUE(plat::SetClientSize(hwnd, 20, 10));  // announced through the owner's queue
    EXPECT_EQ(plat::SendMessage(hwnd, plat::WM_USER, 21, 0), 0);
    EXPECT_EQ(plat::DispatchMessage(&msg), 0);
    EXPECT_EQ(plat::GetMessage(&taken, hwnd, 0, 0), -1);  // would never come here
    EXPECT_EQ(plat::SetTimer(hwnd, 1, 50, nullptr), 0u);
    EXPECT_FALSE(plat::DestroyWindow(hwnd));
    EXPECT_FALSE(plat::PeekMessage(&taken, 0, 0, 0, plat::PM_REMOVE));  // its own queue
  }).join();
  EXPECT_EQ(recorder.Count(plat::WM_USER) + recorder.Count(plat::WM_SIZE), 0);
  EXPECT_EQ(plat::SendMessage(hwnd, plat::WM_USER, 21, 0), 42);
  EXPECT_EQ(plat_test::PumpAll(), 2);
  EXPECT_EQ(recorder.calls.back().lParam, (10 << 16) | 20);
  EXPECT_TRUE(plat::DestroyWindow(hwnd));
}

TEST(WindowThreadTest, AnEndedThreadsWindowsGoWithIt) {
  TestClass cls;
  plat::HWND hwnd = 0;
  std::thread([&] { hwnd = cls.Create(); }).join();
  EXPECT_FALSE(plat::PostMessage(hwnd, plat::WM_USER, 0, 0));
  EXPECT_TRUE(plat::UnregisterClass(cls.name(), plat::GetModuleHandle(nullptr)));
}

}  // namespace
