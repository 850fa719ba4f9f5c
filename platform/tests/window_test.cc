// Window classes and windows: registration rules, creation, attributes,
// destruction and ownership by thread.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>

#include "plat/plat.h"
#include "test_window.h"

namespace {

using plat_test::Recorder;
using plat_test::TestClass;

plat::LRESULT PlainProc(plat::HWND hwnd, plat::UINT message, plat::WPARAM wparam,
                        plat::LPARAM lparam) {
  return plat::DefWindowProc(hwnd, message, wparam, lparam);
}

plat::WNDCLASS PlainClass(const char* name, plat::HINSTANCE instance) {
  plat::WNDCLASS wc;
  wc.lpfnWndProc = PlainProc;
  wc.hInstance = instance;
  wc.lpszClassName = name;
  return wc;
}

int instance_a;  // addresses used as instance handles
int instance_b;

TEST(WindowClassTest, RegisterRefusesMissingNameOrProcedure) {
  EXPECT_EQ(plat::RegisterClass(nullptr), 0);
  plat::WNDCLASS no_name = PlainClass(nullptr, &instance_a);
  EXPECT_EQ(plat::RegisterClass(&no_name), 0);
  plat::WNDCLASS empty_name = PlainClass("", &instance_a);
  EXPECT_EQ(plat::RegisterClass(&empty_name), 0);
  plat::WNDCLASS no_proc = PlainClass("plat_no_proc", &instance_a);
  no_proc.lpfnWndProc = nullptr;
  EXPECT_EQ(plat::RegisterClass(&no_proc), 0);
}

TEST(WindowClassTest, NameIsTakenPerInstanceWithoutRegardToCase) {
  plat::WNDCLASS wc = PlainClass("plat_taken", &instance_a);
  const plat::ATOM atom = plat::RegisterClass(&wc);
  EXPECT_NE(atom, 0);
  EXPECT_EQ(plat::RegisterClass(&wc), 0);
  plat::WNDCLASS upper = PlainClass("PLAT_TAKEN", &instance_a);
  EXPECT_EQ(plat::RegisterClass(&upper), 0);
  plat::WNDCLASS other_instance = PlainClass("plat_taken", &instance_b);
  const plat::ATOM other = plat::RegisterClass(&other_instance);
  EXPECT_NE(other, 0);
  EXPECT_NE(other, atom);

  EXPECT_TRUE(plat::UnregisterClass("plat_taken", &instance_a));
  EXPECT_FALSE(plat::UnregisterClass("plat_taken", &instance_a));
  EXPECT_TRUE(plat::UnregisterClass("Plat_Taken", &instance_b));
  EXPECT_NE(plat::RegisterClass(&wc), 0);  // free again
  EXPECT_TRUE(plat::UnregisterClass("plat_taken", &instance_a));
}

TEST(WindowClassTest, UnregisterFailsWhileWindowsOfTheClassLive) {
  plat::WNDCLASS wc = PlainClass("plat_busy", &instance_a);
  ASSERT_NE(plat::RegisterClass(&wc), 0);
  const plat::HWND first =
      plat::CreateWindow("plat_busy", "", 0, 0, 0, 0, 0, 0, nullptr, &instance_a, nullptr);
  const plat::HWND second =
      plat::CreateWindow("plat_busy", "", 0, 0, 0, 0, 0, 0, nullptr, &instance_a, nullptr);
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  EXPECT_FALSE(plat::UnregisterClass("plat_busy", &instance_a));
  EXPECT_TRUE(plat::DestroyWindow(first));
  EXPECT_FALSE(plat::UnregisterClass("plat_busy", &instance_a));
  EXPECT_TRUE(plat::DestroyWindow(second));
  EXPECT_TRUE(plat::UnregisterClass("plat_busy", &instance_a));
  EXPECT_EQ(plat::CreateWindow("plat_busy", "", 0, 0, 0, 0, 0, 0, nullptr, &instance_a, nullptr),
            0u);
  EXPECT_FALSE(plat::UnregisterClass(nullptr, &instance_a));
}

TEST(WindowClassTest, CreateFindsTheClassOfAnyInstanceWhenNoneMatches) {
  plat::WNDCLASS wc = PlainClass("plat_lenient", &instance_a);
  ASSERT_NE(plat::RegisterClass(&wc), 0);
  const plat::HWND hwnd =
      plat::CreateWindow("plat_lenient", "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
  EXPECT_NE(hwnd, 0u);
  EXPECT_EQ(plat::GetClassName(hwnd), "plat_lenient");
  EXPECT_TRUE(plat::DestroyWindow(hwnd));
  EXPECT_TRUE(plat::UnregisterClass("plat_lenient", &instance_a));
}

TEST(WindowCreateTest, ProcedureSeesCreateParametersAndTheLiveHandle) {
  TestClass cls;
  Recorder recorder;
  plat::CREATESTRUCT seen;
  bool alive_in_create = false;
  recorder.react = [&](plat::HWND hwnd, plat::UINT message, plat::WPARAM, plat::LPARAM lparam) {
    if (message == plat::WM_CREATE) {
      seen = *reinterpret_cast<const plat::CREATESTRUCT*>(lparam);
      alive_in_create = plat::IsWindow(hwnd);
    }
    return plat::LRESULT{0};
  };
  const plat::HWND hwnd = plat::CreateWindow(cls.name(), "title", plat::WS_VISIBLE, 3, 4, 64, 48, 0,
                                             nullptr, nullptr, &recorder);
  ASSERT_NE(hwnd, 0u);
  EXPECT_TRUE(alive_in_create);
  EXPECT_EQ(seen.lpCreateParams, &recorder);
  EXPECT_EQ(seen.cx, 64);
  EXPECT_EQ(seen.cy, 48);
  EXPECT_EQ(seen.x, 3);
  EXPECT_EQ(seen.y, 4);
  EXPECT_EQ(seen.style, plat::WS_VISIBLE);
  EXPECT_STREQ(seen.lpszName, "title");
  EXPECT_STREQ(seen.lpszClass, cls.name());
  ASSERT_EQ(recorder.calls.size(), 1u);
  EXPECT_EQ(recorder.calls[0].hwnd, hwnd);
  EXPECT_TRUE(plat::DestroyWindow(hwnd));
}

TEST(WindowCreateTest, MinusOneFromCreateDestroysTheWindow) {
  TestClass cls;
  Recorder recorder;
  plat::HWND created = 0;
  recorder.react = [&](plat::HWND hwnd, plat::UINT message, plat::WPARAM, plat::LPARAM) {
    if (message != plat::WM_CREATE)
      return plat::LRESULT{0};
    created = hwnd;
    return plat::LRESULT{-1};
  };
  EXPECT_EQ(cls.Create(&recorder), 0u);
  EXPECT_FALSE(plat::IsWindow(created));
  // WM_DESTROY follows, so that what WM_CREATE made can be freed.
  EXPECT_EQ(recorder.Count(plat::WM_DESTROY), 1);
  EXPECT_TRUE(plat::UnregisterClass(cls.name(), plat::GetModuleHandle(nullptr)));
}

TEST(WindowCreateTest, UnknownClassGivesNoWindow) {
  EXPECT_EQ(
      plat::CreateWindow("plat_never_registered", "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr),
      0u);
  EXPECT_EQ(plat::CreateWindow(nullptr, "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr), 0u);
}

TEST(WindowHandleTest, HandlesOfDestroyedWindowsAreNotReusedSoon) {
  TestClass cls;
  std::set<plat::HWND> seen;
  plat::HWND previous = 0;
  for (int i = 0; i < 200; ++i) {
    Recorder recorder;
    const plat::HWND hwnd = cls.Create(&recorder);
    ASSERT_NE(hwnd, 0u);
    EXPECT_TRUE(seen.insert(hwnd).second) << "handle " << hwnd << " came back";
    EXPECT_GT(hwnd, previous);
    previous = hwnd;
    ASSERT_TRUE(plat::DestroyWindow(hwnd));
  }
}

TEST(WindowHandleTest, DeadAndNullHandlesAreAnsweredHarmlessly) {
  TestClass cls;
  Recorder recorder;
  const plat::HWND hwnd = cls.Create(&recorder);
  ASSERT_TRUE(plat::DestroyWindow(hwnd));
  for (const plat::HWND bad : {plat::HWND{0}, hwnd, plat::HWND{0xFFFFFFFF}}) {
    EXPECT_FALSE(plat::IsWindow(bad));
    EXPECT_FALSE(plat::DestroyWindow(bad));
    EXPECT_EQ(plat::GetWindowLongPtr(bad, plat::GWL_USERDATA), 0);
    EXPECT_EQ(plat::SetWindowLongPtr(bad, plat::GWL_USERDATA, 5), 0);
    EXPECT_FALSE(plat::SetWindowText(bad, "x"));
    EXPECT_EQ(plat::GetWindowText(bad), "");
    EXPECT_EQ(plat::GetClassName(bad), "");
    plat::RECT rect{1, 2, 3, 4};
    EXPECT_FALSE(plat::GetClientRect(bad, &rect));
    EXPECT_FALSE(plat::SetClientSize(bad, 10, 10));
    EXPECT_EQ(plat::GetWindowThreadProcessId(bad, nullptr), 0u);
    EXPECT_EQ(plat::SendMessage(bad, plat::WM_USER, 0, 0), 0);
  }
}

TEST(WindowAttributeTest, TitleUserDataAndOwner) {
  TestClass cls;
  Recorder recorder;
  const plat::HWND hwnd = cls.Create(&recorder);
  ASSERT_NE(hwnd, 0u);
  EXPECT_EQ(plat::GetWindowText(hwnd), "test window");
  EXPECT_TRUE(plat::SetWindowText(hwnd, "renamed"));
  EXPECT_EQ(plat::GetWindowText(hwnd), "renamed");
  EXPECT_TRUE(plat::SetWindowText(hwnd, nullptr));
  EXPECT_EQ(plat::GetWindowText(hwnd), "");
  EXPECT_EQ(plat::GetClassName(hwnd), cls.name());

  const auto original = reinterpret_cast<plat::LONG_PTR>(&recorder);
  EXPECT_EQ(plat::SetWindowLongPtr(hwnd, plat::GWL_USERDATA, 42), original);
  EXPECT_EQ(plat::GetWindowLongPtr(hwnd, plat::GWL_USERDATA), 42);
  EXPECT_EQ(plat::SetWindowLongPtr(hwnd, plat::GWL_USERDATA, original), 42);
  EXPECT_EQ(plat::GetWindowLongPtr(hwnd, -4), 0);  // not kept

  plat::DWORD pid = 0;
  EXPECT_EQ(plat::GetWindowThreadProcessId(hwnd, &pid), plat::GetCurrentThreadId());
  EXPECT_EQ(pid, static_cast<plat::DWORD>(getpid()));
  EXPECT_TRUE(plat::DestroyWindow(hwnd));
}

TEST(WindowAttributeTest, FindAndEnumerateLiveWindows) {
  TestClass cls;
  Recorder recorder;
  const plat::HWND first = cls.Create(&recorder);
  const plat::HWND second = cls.Create(&recorder);
  ASSERT_TRUE(plat::SetWindowText(second, "second"));
  EXPECT_EQ(plat::FindWindow(cls.name(), nullptr), first);
  EXPECT_EQ(plat::FindWindow(cls.name(), "second"), second);
  EXPECT_EQ(plat::FindWindow(nullptr, "second"), second);
  EXPECT_EQ(plat::FindWindow(cls.name(), "third"), 0u);
  const auto all = plat::EnumWindows();
  EXPECT_TRUE(std::is_sorted(all.begin(), all.end()));
  EXPECT_EQ(std::count(all.begin(), all.end(), first), 1);
  EXPECT_EQ(std::count(all.begin(), all.end(), second), 1);
  plat::DestroyWindow(first);
  plat::DestroyWindow(second);
  EXPECT_EQ(plat::FindWindow(cls.name(), nullptr), 0u);
}

TEST(WindowClientTest, HostWindowsHaveAClientAreaHiddenOnesNone) {
  TestClass cls;
  Recorder recorder;
  const plat::HWND host = cls.Create(&recorder, plat::WS_VISIBLE, 320, 240);
  const plat::HWND hidden = cls.Create(&recorder, 0, 320, 240);
  const plat::HWND negative = cls.Create(&recorder, plat::WS_VISIBLE, -5, -1);
  plat::RECT rect;
  ASSERT_TRUE(plat::GetClientRect(host, &rect));
  EXPECT_EQ(rect.left, 0);
  EXPECT_EQ(rect.top, 0);
  EXPECT_EQ(rect.right, 320);
  EXPECT_EQ(rect.bottom, 240);
  ASSERT_TRUE(plat::GetClientRect(hidden, &rect));
  EXPECT_EQ(rect.right, 0);
  EXPECT_EQ(rect.bottom, 0);
  ASSERT_TRUE(plat::GetClientRect(negative, &rect));
  EXPECT_EQ(rect.right, 0);
  EXPECT_EQ(rect.bottom, 0);
  EXPECT_FALSE(plat::GetClientRect(host, nullptr));
  for (plat::HWND h : {host, hidden, negative})
    plat::DestroyWindow(h);
}

TEST(WindowClientTest, ResizingAHostWindowSendsSize) {
  TestClass cls;
  Recorder recorder;
  const plat::HWND host = cls.Create(&recorder, plat::WS_VISIBLE, 8, 8);
  const plat::HWND hidden = cls.Create(&recorder);
  ASSERT_TRUE(plat::SetClientSize(host, 176, 144));
  plat::RECT rect;
  ASSERT_TRUE(plat::GetClientRect(host, &rect));
  EXPECT_EQ(rect.right, 176);
  EXPECT_EQ(rect.bottom, 144);
  ASSERT_EQ(recorder.Count(plat::WM_SIZE), 1);
  EXPECT_EQ(recorder.calls.back().lparam, (144 << 16) | 176);
  EXPECT_FALSE(plat::SetClientSize(hidden, 10, 10));

  // From another thread the size arrives through the queue.
  std::thread([&] { EXPECT_TRUE(plat::SetClientSize(host, 20, 10)); }).join();
  EXPECT_EQ(recorder.Count(plat::WM_SIZE), 1);
  plat_test::PumpAll();
  EXPECT_EQ(recorder.Count(plat::WM_SIZE), 2);
  EXPECT_EQ(recorder.calls.back().lparam, (10 << 16) | 20);
  plat::DestroyWindow(host);
  plat::DestroyWindow(hidden);
}

TEST(WindowDestroyTest, DestroyDeliversDestroyWhileTheWindowIsStillValid) {
  TestClass cls;
  Recorder recorder;
  bool alive_in_destroy = false;
  plat::LONG_PTR user_data_in_destroy = 0;
  recorder.react = [&](plat::HWND hwnd, plat::UINT message, plat::WPARAM, plat::LPARAM) {
    if (message == plat::WM_DESTROY) {
      alive_in_destroy = plat::IsWindow(hwnd);
      user_data_in_destroy = plat::GetWindowLongPtr(hwnd, plat::GWL_USERDATA);
      EXPECT_FALSE(plat::DestroyWindow(hwnd));  // already on its way
      EXPECT_EQ(plat::SetTimer(hwnd, 1, 10, nullptr), 0u);
    }
    return plat::LRESULT{0};
  };
  const plat::HWND hwnd = cls.Create(&recorder);
  ASSERT_TRUE(plat::DestroyWindow(hwnd));
  EXPECT_TRUE(alive_in_destroy);
  EXPECT_EQ(user_data_in_destroy, reinterpret_cast<plat::LONG_PTR>(&recorder));
  EXPECT_EQ(recorder.Count(plat::WM_DESTROY), 1);
  EXPECT_FALSE(plat::IsWindow(hwnd));
  EXPECT_FALSE(plat::DestroyWindow(hwnd));
  EXPECT_EQ(recorder.Count(plat::WM_DESTROY), 1);
}

TEST(WindowDestroyTest, AnotherThreadCannotDestroyTheWindow) {
  TestClass cls;
  Recorder recorder;
  const plat::HWND hwnd = cls.Create(&recorder);
  bool destroyed = true;
  std::thread([&] { destroyed = plat::DestroyWindow(hwnd); }).join();
  EXPECT_FALSE(destroyed);
  EXPECT_TRUE(plat::IsWindow(hwnd));
  EXPECT_EQ(recorder.Count(plat::WM_DESTROY), 0);
  EXPECT_TRUE(plat::DestroyWindow(hwnd));
}

TEST(WindowDestroyTest, ProcedureMayDestroyItsOwnWindow) {
  TestClass cls;
  Recorder recorder;
  recorder.react = [](plat::HWND hwnd, plat::UINT message, plat::WPARAM, plat::LPARAM) {
    if (message == plat::WM_USER) {
      EXPECT_TRUE(plat::DestroyWindow(hwnd));
      EXPECT_FALSE(plat::IsWindow(hwnd));
      return plat::LRESULT{7};
    }
    return plat::LRESULT{0};
  };
  const plat::HWND hwnd = cls.Create(&recorder);
  ASSERT_TRUE(plat::PostMessage(hwnd, plat::WM_USER, 0, 0));
  ASSERT_TRUE(plat::PostMessage(hwnd, plat::WM_USER + 1, 0, 0));
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(plat::DispatchMessage(&msg), 7);
  EXPECT_FALSE(plat::IsWindow(hwnd));
  // The second message was queued for a window that has died meanwhile.
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(plat::DispatchMessage(&msg), 0);
  ASSERT_EQ(recorder.calls.size(), 3u);  // WM_CREATE, WM_USER, WM_DESTROY
  EXPECT_EQ(recorder.calls[2].message, plat::WM_DESTROY);
}

TEST(WindowDestroyTest, CloseByDefaultDestroys) {
  TestClass cls;
  Recorder recorder;
  const plat::HWND hwnd = cls.Create(&recorder);
  EXPECT_EQ(plat::SendMessage(hwnd, plat::WM_CLOSE, 0, 0), 0);
  EXPECT_FALSE(plat::IsWindow(hwnd));
  EXPECT_EQ(recorder.Count(plat::WM_DESTROY), 1);
}

TEST(WindowDestroyTest, ProceduresMayCreateAndDestroyOtherWindows) {
  TestClass cls;
  Recorder inner;
  Recorder outer;
  plat::HWND child = 0;
  outer.react = [&](plat::HWND, plat::UINT message, plat::WPARAM, plat::LPARAM) {
    if (message == plat::WM_CREATE)
      child = cls.Create(&inner);
    if (message == plat::WM_DESTROY)
      plat::DestroyWindow(child);
    return plat::LRESULT{0};
  };
  const plat::HWND hwnd = cls.Create(&outer);
  ASSERT_NE(hwnd, 0u);
  EXPECT_TRUE(plat::IsWindow(child));
  EXPECT_TRUE(plat::DestroyWindow(hwnd));
  EXPECT_FALSE(plat::IsWindow(child));
  EXPECT_EQ(inner.Count(plat::WM_DESTROY), 1);
}

TEST(WindowThreadTest, WindowsOfAnEndedThreadAreGone) {
  TestClass cls;
  Recorder recorder;  // its procedure never runs on the other thread after creation
  plat::HWND hwnd = 0;
  std::thread([&] { hwnd = cls.Create(&recorder); }).join();
  ASSERT_NE(hwnd, 0u);
  EXPECT_FALSE(plat::IsWindow(hwnd));
  EXPECT_FALSE(plat::PostMessage(hwnd, plat::WM_USER, 0, 0));
  EXPECT_TRUE(plat::UnregisterClass(cls.name(), plat::GetModuleHandle(nullptr)));
}

// Runs in the thread's teardown after the layer has closed the thread's queue.
struct LateTeardown {
  const char* class_name = nullptr;
  std::atomic<int>* refused = nullptr;
  ~LateTeardown() {
    plat::MSG msg;
    int n = 0;
    n += plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE) ? 0 : 1;
    plat::PostQuitMessage(1);
    n += plat::GetMessage(&msg, 0, 0, 0) == -1 ? 1 : 0;
    n += plat::CreateWindow(class_name, "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr) == 0;
    *refused = n;
  }
};

TEST(WindowThreadTest, CallsDuringTheThreadsTeardownAreRefused) {
  TestClass cls;
  std::atomic<int> refused{0};
  plat::HWND hwnd = 0;
  std::thread([&] {
    // Made before the layer's queue, so destroyed after it.
    thread_local LateTeardown late;
    late.class_name = cls.name();
    late.refused = &refused;
    Recorder recorder;
    hwnd = cls.Create(&recorder);
  }).join();
  EXPECT_EQ(refused, 3);
  EXPECT_FALSE(plat::IsWindow(hwnd));
}

TEST(WindowThreadTest, SendMessageCallsOnlyOnTheOwnerThread) {
  TestClass cls;
  Recorder recorder;
  recorder.react = [](plat::HWND, plat::UINT message, plat::WPARAM wparam, plat::LPARAM) {
    return message == plat::WM_USER ? static_cast<plat::LRESULT>(wparam * 2) : 0;
  };
  const plat::HWND hwnd = cls.Create(&recorder);
  EXPECT_EQ(plat::SendMessage(hwnd, plat::WM_USER, 21, 0), 42);
  plat::LRESULT from_other = -1;
  std::thread([&] { from_other = plat::SendMessage(hwnd, plat::WM_USER, 21, 0); }).join();
  EXPECT_EQ(from_other, 0);
  EXPECT_EQ(recorder.Count(plat::WM_USER), 1);
  plat::DestroyWindow(hwnd);
}

}  // namespace
