// Window timers: ticks made only while the thread looks at its queue, at most
// one pending, none after KillTimer or DestroyWindow. Time bounds are generous
// so that a loaded machine does not fail them.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>
#include <utility>

#include "plat/plat.h"
#include "test_window.h"

namespace {

using namespace std::chrono_literals;
using plat_test::Readable;
using plat_test::Recorder;
using plat_test::TestClass;
using Clock = std::chrono::steady_clock;
using Ticks = std::map<std::pair<plat::HWND, plat::UINT_PTR>, int>;

// Pumps with PeekMessage for `how_long`; counts WM_TIMER by window and id.
Ticks PumpTicks(Clock::duration how_long) {
  Ticks ticks;
  const auto end = Clock::now() + how_long;
  plat::MSG msg;
  while (Clock::now() < end) {
    if (!plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
      std::this_thread::sleep_for(1ms);
      continue;
    }
    if (msg.message == plat::WM_TIMER)
      ++ticks[{msg.hwnd, msg.wParam}];
    plat::DispatchMessage(&msg);
  }
  return ticks;
}

class TimerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(hwnd_ = cls_.Create(&recorder_), 0u); }
  void TearDown() override {
    plat::DestroyWindow(hwnd_);
    plat_test::PumpAll();
  }

  TestClass cls_;
  Recorder recorder_;
  plat::HWND hwnd_ = 0;
};

TEST_F(TimerTest, FiftyMillisecondTimerTicksAboutTwentyTimesASecondThroughGetMessage) {
  EXPECT_EQ(plat::SetTimer(hwnd_, 0, 50, nullptr), 0u);  // no id
  auto proc = [](plat::HWND, plat::UINT, plat::UINT_PTR, plat::DWORD) {};
  EXPECT_EQ(plat::SetTimer(hwnd_, 1, 50, proc), 0u);  // procedures are not served
  ASSERT_EQ(plat::SetTimer(hwnd_, 1002, 50, nullptr), 1002u);
  const auto end = Clock::now() + 1s;
  plat::MSG msg;
  while (Clock::now() < end) {
    ASSERT_EQ(plat::GetMessage(&msg, 0, 0, 0), 1);
    plat::DispatchMessage(&msg);
  }
  EXPECT_GE(recorder_.Count(plat::WM_TIMER), 10);
  EXPECT_LE(recorder_.Count(plat::WM_TIMER), 30);
  EXPECT_EQ(recorder_.calls.back().wparam, 1002u);
}

TEST_F(TimerTest, OneTickWaitsAfterPostedMessagesAndObeysFilters) {
  const plat::HWND other = cls_.Create();
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 20, nullptr), 0u);
  std::this_thread::sleep_for(200ms);  // ten periods unlooked at
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, 0, 0));
  plat::MSG msg;
  EXPECT_FALSE(plat::PeekMessage(&msg, other, 0, 0, plat::PM_REMOVE));
  ASSERT_TRUE(plat::PeekMessage(&msg, hwnd_, plat::WM_TIMER, plat::WM_TIMER, plat::PM_NOREMOVE));
  EXPECT_EQ(msg.message, plat::WM_TIMER);
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.message, plat::WM_USER);
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.message, plat::WM_TIMER);
  EXPECT_EQ(msg.hwnd, hwnd_);
  EXPECT_EQ(msg.wParam, 1u);
  // The next one is due a period after this one was taken.
  EXPECT_FALSE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  plat::DestroyWindow(other);
}

TEST_F(TimerTest, TheQueuesDescriptorIsReadableFromTheDueTimeUntilTheTickIsTaken) {
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 100, nullptr), 0u);
  EXPECT_FALSE(Readable());
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Readable(10000));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
  EXPECT_TRUE(Readable());  // still due: nobody took the tick
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_NOREMOVE));
  EXPECT_TRUE(Readable());
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.message, plat::WM_TIMER);
  EXPECT_FALSE(Readable());
  ASSERT_TRUE(plat::KillTimer(hwnd_, 1));
  EXPECT_FALSE(Readable(200));
}

TEST_F(TimerTest, SettingAgainKillTimerAndDestroyWindowStopDueTicks) {
  const plat::HWND doomed = cls_.Create();
  for (plat::UINT_PTR id : {1, 2, 3})
    ASSERT_NE(plat::SetTimer(hwnd_, id, 10, nullptr), 0u);
  ASSERT_NE(plat::SetTimer(doomed, 1, 10, nullptr), 0u);
  std::this_thread::sleep_for(30ms);  // all due
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 10000, nullptr), 0u);
  EXPECT_TRUE(plat::KillTimer(hwnd_, 2));
  ASSERT_TRUE(plat::DestroyWindow(doomed));
  Ticks ticks = PumpTicks(200ms);
  EXPECT_EQ((ticks[{hwnd_, 1}]), 0);
  EXPECT_EQ((ticks[{hwnd_, 2}]), 0);
  EXPECT_EQ((ticks[{doomed, 1}]), 0);
  EXPECT_GE((ticks[{hwnd_, 3}]), 1);  // the others kept going
  EXPECT_TRUE(plat::KillTimer(hwnd_, 1));
  EXPECT_FALSE(plat::KillTimer(hwnd_, 1));
}

TEST_F(TimerTest, TimersOfAnotherThreadTickThereOnly) {
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 10, nullptr), 0u);
  Ticks there;
  std::thread([&] {
    TestClass cls;
    const plat::HWND mine = cls.Create();
    plat::SetTimer(mine, 5, 10, nullptr);
    there = PumpTicks(200ms);
    EXPECT_GE((there[{mine, 5}]), 1);
    plat::DestroyWindow(mine);
  }).join();
  EXPECT_EQ((there[{hwnd_, 1}]), 0);  // never the other thread's
  EXPECT_GE((PumpTicks(50ms)[{hwnd_, 1}]), 1);
}

}  // namespace
