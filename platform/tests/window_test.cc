// Window classes and windows: registration rules, creation, attributes,
// destruction, ownership by thread, and every call given a handle it cannot use.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "plat/plat.h"
#include "test_window.h"

namespace {

using plat_test::Recorder;
using plat_test::TestClass;

plat::ATOM Register(const char* name, plat::HINSTANCE instance, bool with_procedure = true) {
  plat::WNDCLASS wc;
  wc.lpfnWndProc = with_procedure ? &plat::DefWindowProc : nullptr;
  wc.hInstance = instance;
  wc.lpszClassName = name;
  return plat::RegisterClass(&wc);
}

plat::HWND CreatePlain(const char* class_name, plat::HINSTANCE instance) {
  return plat::CreateWindow(class_name, "", 0, 0, 0, 0, 0, 0, nullptr, instance, nullptr);
}

int instance_a, instance_b;  // addresses used as instance handles

TEST(WindowClassTest, NamesAreTakenPerInstanceWithoutRegardToCase) {
  EXPECT_EQ(plat::RegisterClass(nullptr), 0);
  EXPECT_EQ(Register(nullptr, &instance_a), 0);
  EXPECT_EQ(Register("", &instance_a), 0);
  EXPECT_EQ(Register("plat_taken", &instance_a, false), 0);
  EXPECT_EQ(CreatePlain(nullptr, nullptr), 0u);
  const plat::ATOM atom = Register("plat_taken", &instance_a);
  EXPECT_NE(atom, 0);
  EXPECT_EQ(Register("PLAT_TAKEN", &instance_a), 0);
  const plat::ATOM other = Register("plat_taken", &instance_b);
  EXPECT_NE(other, 0);
  EXPECT_NE(other, atom);
  EXPECT_TRUE(plat::UnregisterClass("plat_taken", &instance_a));
  EXPECT_FALSE(plat::UnregisterClass("plat_taken", &instance_a));
  EXPECT_TRUE(plat::UnregisterClass("Plat_Taken", &instance_b));
  EXPECT_FALSE(plat::UnregisterClass(nullptr, &instance_a));
  EXPECT_EQ(CreatePlain("plat_taken", nullptr), 0u);
}

TEST(WindowClassTest, UnregisterFailsWhileWindowsLiveAndCreateFindsAnyInstance) {
  ASSERT_NE(Register("plat_busy", &instance_a), 0);
  const plat::HWND first = CreatePlain("plat_busy", &instance_a);
  const plat::HWND lenient = CreatePlain("plat_busy", nullptr);  // no instance matches
  ASSERT_NE(first, 0u);
  EXPECT_EQ(plat::GetClassName(lenient), "plat_busy");
  EXPECT_FALSE(plat::UnregisterClass("plat_busy", &instance_a));
  EXPECT_TRUE(plat::DestroyWindow(first));
  EXPECT_FALSE(plat::UnregisterClass("plat_busy", &instance_a));
  EXPECT_TRUE(plat::DestroyWindow(lenient));
  EXPECT_TRUE(plat::UnregisterClass("plat_busy", &instance_a));
}

TEST(WindowCreateTest, ProcedureSeesCreateParametersAndMayRefuseTheWindow) {
  TestClass cls;
  Recorder recorder;
  plat::CREATESTRUCT seen;
  plat::HWND created = 0;
  bool refuse = false;
  recorder.react = [&](plat::HWND hwnd, plat::UINT message, plat::WPARAM, plat::LPARAM lparam) {
    if (message == plat::WM_CREATE && plat::IsWindow(hwnd)) {
      seen = *reinterpret_cast<const plat::CREATESTRUCT*>(lparam);
      created = hwnd;
    }
    return plat::LRESULT{message == plat::WM_CREATE && refuse ? -1 : 0};
  };
  const plat::HWND hwnd = plat::CreateWindow(cls.name(), "title", plat::WS_VISIBLE, 3, 4, 64, 48, 0,
                                             nullptr, nullptr, &recorder);
  ASSERT_EQ(created, hwnd);
  EXPECT_EQ(seen.lpCreateParams, &recorder);
  EXPECT_EQ(std::vector<int>({seen.x, seen.y, seen.cx, seen.cy}), std::vector<int>({3, 4, 64, 48}));
  EXPECT_EQ(seen.style, plat::WS_VISIBLE);
  EXPECT_STREQ(seen.lpszName, "title");
  EXPECT_STREQ(seen.lpszClass, cls.name());
  EXPECT_TRUE(plat::DestroyWindow(hwnd));

  refuse = true;
  EXPECT_EQ(cls.Create(&recorder), 0u);
  EXPECT_NE(created, hwnd);
  EXPECT_FALSE(plat::IsWindow(created));
  // WM_DESTROY follows, so that what WM_CREATE made can be freed.
  EXPECT_EQ(recorder.Count(plat::WM_DESTROY), 2);
  EXPECT_TRUE(plat::UnregisterClass(cls.name(), plat::GetModuleHandle(nullptr)));
}

// Every call that takes a window refuses, harmlessly, one it cannot use.
struct BadHandleCall {
  const char* name;
  bool needs_surface;  // refused for a live window without a pixel surface too
  std::function<bool(plat::HWND)> refused;
};

TEST(WindowHandleTest, CallsGivenANullDeadOrUnknownHandleRefuse) {
  using namespace plat;
  RECT rect{1, 2, 3, 4};
  PAINTSTRUCT ps;
  BITMAPINFO bmi;
  bmi.bmiHeader.biWidth = bmi.bmiHeader.biHeight = 1;
  const std::uint32_t pixel = 0;
  std::vector<std::uint32_t> pixels;
  int w = 0;
  MSG msg;
  const std::vector<BadHandleCall> calls = {
      {"IsWindow", false, [](HWND b) { return !IsWindow(b); }},
      {"DestroyWindow", false, [](HWND b) { return !DestroyWindow(b); }},
      {"GetWindowLongPtr", false, [](HWND b) { return GetWindowLongPtr(b, GWL_USERDATA) == 0; }},
      {"SetWindowLongPtr", false, [](HWND b) { return SetWindowLongPtr(b, GWL_USERDATA, 5) == 0; }},
      {"SetWindowText", false, [](HWND b) { return !SetWindowText(b, "x"); }},
      {"GetWindowText", false, [](HWND b) { return GetWindowText(b).empty(); }},
      {"GetClassName", false, [](HWND b) { return GetClassName(b).empty(); }},
      {"GetClientRect", false, [&](HWND b) { return !GetClientRect(b, &rect); }},
      {"GetWindowThreadProcessId", false, [](HWND b) { return !GetWindowThreadProcessId(b, 0); }},
      {"SendMessage", false, [](HWND b) { return SendMessage(b, WM_USER, 0, 0) == 0; }},
      {"PostMessage", false, [](HWND b) { return !PostMessage(b, WM_USER, 0, 0); }},
      {"SetTimer", false, [](HWND b) { return SetTimer(b, 1, 50, nullptr) == 0; }},
      {"KillTimer", false, [](HWND b) { return !KillTimer(b, 1); }},
      // Waiting for a window that cannot get messages would wait forever (0 is any window).
      {"GetMessage", false, [&](HWND b) { return b == 0 || GetMessage(&msg, b, 0, 0) == -1; }},
      {"GetDC", false, [](HWND b) { return GetDC(b) == HDC::none; }},
      {"BeginPaint", false, [&](HWND b) { return BeginPaint(b, &ps) == HDC::none; }},
      {"EndPaint", false, [&](HWND b) { return !EndPaint(b, &ps); }},
      {"GetWindowRgn", false, [](HWND b) { return GetWindowRgn(b, nullptr) == ERROR_REGION; }},
      {"SetClientSize", true, [](HWND b) { return !SetClientSize(b, 10, 10); }},
      {"ReadWindowPixels", true, [&](HWND b) { return !ReadWindowPixels(b, &pixels, &w, &w); }},
      {"SetDIBitsToDevice", true,
       [&](HWND b) {
         return SetDIBitsToDevice(static_cast<HDC>(b), 0, 0, 1, 1, 0, 0, 0, 1, &pixel, &bmi, 0) ==
                0;
       }},
  };
  TestClass cls;
  const plat::HWND dead = cls.Create();
  const plat::HWND hidden = cls.Create();
  ASSERT_TRUE(plat::DestroyWindow(dead));
  for (const BadHandleCall& call : calls) {
    for (const plat::HWND bad : {plat::HWND{0}, dead, plat::HWND{0xFFFFFFFF}})
      EXPECT_TRUE(call.refused(bad)) << call.name << " of " << bad;
    if (call.needs_surface) {
      EXPECT_TRUE(call.refused(hidden)) << call.name << " of a hidden window";
    }
  }
  EXPECT_TRUE(plat::IsWindow(hidden));
  plat::DestroyWindow(hidden);
}

TEST(WindowAttributeTest, TitleUserDataOwnerThreadAndLookUp) {
  TestClass cls;
  const plat::HWND hwnd = cls.Create();
  EXPECT_TRUE(plat::SetWindowText(hwnd, "renamed"));
  EXPECT_EQ(plat::GetWindowText(hwnd), "renamed");
  EXPECT_EQ(plat::FindWindow(cls.name(), "renamed"), hwnd);
  EXPECT_TRUE(plat::SetWindowText(hwnd, nullptr));
  EXPECT_EQ(plat::GetWindowText(hwnd), "");
  EXPECT_EQ(plat::SetWindowLongPtr(hwnd, plat::GWL_USERDATA, 42), 0);
  EXPECT_EQ(plat::SetWindowLongPtr(hwnd, plat::GWL_USERDATA, 0), 42);  // the procedure reads it
  EXPECT_EQ(plat::GetWindowLongPtr(hwnd, -4), 0);                      // not kept
  EXPECT_EQ(plat::GetWindowThreadProcessId(hwnd, nullptr), plat::GetCurrentThreadId());
  EXPECT_TRUE(plat::DestroyWindow(hwnd));
}

// Client areas as painting sees them are the display tests'.
TEST(WindowClientTest, ResizingAnnouncesTheSizeOnTheOwnersThread) {
  TestClass cls;
  Recorder recorder;
  const plat::HWND host = cls.Create(&recorder, plat::WS_VISIBLE, 320, 240);
  ASSERT_TRUE(plat::SetClientSize(host, 176, 144));
  ASSERT_EQ(recorder.Count(plat::WM_SIZE), 1);
  EXPECT_EQ(recorder.calls.back().lparam, (144 << 16) | 176);
  // From another thread the size arrives through the queue.
  std::thread([&] { EXPECT_TRUE(plat::SetClientSize(host, 20, 10)); }).join();
  EXPECT_EQ(recorder.Count(plat::WM_SIZE), 1);
  plat_test::PumpAll();
  EXPECT_EQ(recorder.calls.back().lparam, (10 << 16) | 20);
  plat::RECT rect;
  EXPECT_TRUE(plat::GetClientRect(host, &rect));
  EXPECT_EQ(std::vector<int>({rect.left, rect.top, rect.right, rect.bottom}),
            std::vector<int>({0, 0, 20, 10}));
  EXPECT_FALSE(plat::GetClientRect(host, nullptr));
  plat::DestroyWindow(host);
}

TEST(WindowDestroyTest, DestroyComesOnceWhileValidAndProceduresMayDestroyAnyWindow) {
  TestClass cls;
  Recorder inner;
  Recorder outer;
  plat::HWND child = 0;
  bool valid_in_destroy = false;
  outer.react = [&](plat::HWND hwnd, plat::UINT message, plat::WPARAM, plat::LPARAM) {
    if (message == plat::WM_CREATE)
      child = cls.Create(&inner);
    if (message == plat::WM_DESTROY) {
      valid_in_destroy = plat::GetWindowLongPtr(hwnd, plat::GWL_USERDATA) ==
                         reinterpret_cast<plat::LONG_PTR>(&outer);
      EXPECT_FALSE(plat::DestroyWindow(hwnd));  // already on its way
      EXPECT_EQ(plat::SetTimer(hwnd, 1, 10, nullptr), 0u);
      plat::SendMessage(child, plat::WM_CLOSE, 0, 0);  // closing destroys by default
    }
    if (message == plat::WM_USER) {
      EXPECT_TRUE(plat::DestroyWindow(hwnd));
      EXPECT_FALSE(plat::IsWindow(hwnd));
      return plat::LRESULT{7};
    }
    return plat::LRESULT{0};
  };
  const plat::HWND hwnd = cls.Create(&outer);
  ASSERT_TRUE(plat::IsWindow(child));
  ASSERT_TRUE(plat::PostMessage(hwnd, plat::WM_USER, 0, 0));
  ASSERT_TRUE(plat::PostMessage(hwnd, plat::WM_USER + 1, 0, 0));
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(plat::DispatchMessage(&msg), 7);
  EXPECT_TRUE(valid_in_destroy);
  EXPECT_EQ(outer.Count(plat::WM_DESTROY), 1);
  EXPECT_FALSE(plat::IsWindow(child));
  EXPECT_EQ(inner.Count(plat::WM_DESTROY), 1);
  // The second message was queued for a window that has died meanwhile, and
  // a window made since has another handle.
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
  const plat::HWND hwnd = cls.Create(&recorder);
  const plat::MSG msg{hwnd, plat::WM_USER, 21, 0, 0};
  ASSERT_TRUE(plat::PostMessage(hwnd, plat::WM_USER, 0, 0));
  std::thread([&] {
    plat::MSG taken;
    EXPECT_EQ(plat::SendMessage(hwnd, plat::WM_USER, 21, 0), 0);
    EXPECT_EQ(plat::DispatchMessage(&msg), 0);
    EXPECT_EQ(plat::GetMessage(&taken, hwnd, 0, 0), -1);  // would never come here
    EXPECT_EQ(plat::SetTimer(hwnd, 1, 50, nullptr), 0u);
    EXPECT_FALSE(plat::DestroyWindow(hwnd));
    EXPECT_FALSE(plat::PeekMessage(&taken, 0, 0, 0, plat::PM_REMOVE));  // its own queue
  }).join();
  EXPECT_EQ(recorder.Count(plat::WM_USER), 0);
  EXPECT_EQ(plat::SendMessage(hwnd, plat::WM_USER, 21, 0), 42);
  EXPECT_EQ(plat::DispatchMessage(&msg), 42);
  EXPECT_EQ(plat_test::PumpAll(), 1);
  EXPECT_EQ(plat::DispatchMessage(nullptr), 0);
  EXPECT_TRUE(plat::DestroyWindow(hwnd));
}

// Runs in the thread's teardown after the layer has closed the thread's queue.
struct LateTeardown {
  const char* class_name = nullptr;
  std::atomic<int>* refused = nullptr;
  ~LateTeardown() {
    plat::MSG msg;
    plat::PostQuitMessage(1);
    *refused = !plat::PeekMessage(&msg, 0, 0, 0, plat::PM_NOREMOVE) +
               (plat::GetMessage(&msg, 0, 0, 0) == -1) + (CreatePlain(class_name, nullptr) == 0);
  }
};

TEST(WindowThreadTest, AnEndedThreadsWindowsAreGoneAndItsLateCallsRefused) {
  TestClass cls;
  std::atomic<int> refused{0};
  plat::HWND hwnd = 0;
  std::thread([&] {
    // Made before the layer's queue, so destroyed after it.
    thread_local LateTeardown late;
    late.class_name = cls.name();
    late.refused = &refused;
    hwnd = cls.Create();
  }).join();
  EXPECT_EQ(refused, 3);
  // The thread's windows went with it.
  EXPECT_FALSE(plat::IsWindow(hwnd));
  EXPECT_FALSE(plat::PostMessage(hwnd, plat::WM_USER, 0, 0));
  EXPECT_TRUE(plat::UnregisterClass(cls.name(), plat::GetModuleHandle(nullptr)));
}

}  // namespace
