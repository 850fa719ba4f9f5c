// Window timers: ticks made only while the thread looks at its queue, at most
// one pending, none after KillTimer or DestroyWindow. Time bounds are generous
// so that a loaded machine does not fail them.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "plat/plat.h"
#include "test_window.h"

namespace {

using namespace std::chrono_literals;
using plat_test::Recorder;
using plat_test::TestClass;
using Clock = std::chrono::steady_clock;

class TimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hwnd_ = cls_.Create(&recorder_);
    ASSERT_NE(hwnd_, 0u);
  }
  void TearDown() override {
    plat::DestroyWindow(hwnd_);
    plat_test::PumpAll();
  }

  // Pumps with PeekMessage for `how_long`; counts WM_TIMER of (hwnd, id).
  static int PumpTicks(Clock::duration how_long, plat::HWND hwnd, plat::UINT_PTR id) {
    int ticks = 0;
    const auto end = Clock::now() + how_long;
    plat::MSG msg;
    while (Clock::now() < end) {
      if (!plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
        std::this_thread::sleep_for(1ms);
        continue;
      }
      if (msg.message == plat::WM_TIMER && msg.hwnd == hwnd && msg.wParam == id)
        ++ticks;
      plat::DispatchMessage(&msg);
    }
    return ticks;
  }

  TestClass cls_;
  Recorder recorder_;
  plat::HWND hwnd_ = 0;
};

TEST_F(TimerTest, SetTimerRefusesBadArguments) {
  EXPECT_EQ(plat::SetTimer(hwnd_, 0, 50, nullptr), 0u);
  EXPECT_EQ(plat::SetTimer(0, 1, 50, nullptr), 0u);
  auto proc = [](plat::HWND, plat::UINT, plat::UINT_PTR, plat::DWORD) {};
  EXPECT_EQ(plat::SetTimer(hwnd_, 1, 50, proc), 0u);
  plat::UINT_PTR from_other = 99;
  std::thread([&] { from_other = plat::SetTimer(hwnd_, 1, 50, nullptr); }).join();
  EXPECT_EQ(from_other, 0u);
  Recorder recorder;
  const plat::HWND dead = cls_.Create(&recorder);
  plat::DestroyWindow(dead);
  EXPECT_EQ(plat::SetTimer(dead, 1, 50, nullptr), 0u);
  EXPECT_FALSE(plat::KillTimer(dead, 1));
  EXPECT_FALSE(plat::KillTimer(hwnd_, 1));  // never set
}

TEST_F(TimerTest, FiftyMillisecondTimerTicksAboutTwentyTimesASecondWhilePumping) {
  ASSERT_EQ(plat::SetTimer(hwnd_, 1002, 50, nullptr), 1002u);
  const int ticks = PumpTicks(1s, hwnd_, 1002);
  EXPECT_GE(ticks, 10);
  EXPECT_LE(ticks, 30);
  EXPECT_EQ(recorder_.Count(plat::WM_TIMER), ticks);
  EXPECT_EQ(recorder_.calls.back().wparam, 1002u);
  EXPECT_TRUE(plat::KillTimer(hwnd_, 1002));
}

TEST_F(TimerTest, GetMessageWakesForTicks) {
  ASSERT_EQ(plat::SetTimer(hwnd_, 7, 50, nullptr), 7u);
  int ticks = 0;
  const auto end = Clock::now() + 1s;
  plat::MSG msg;
  while (Clock::now() < end) {
    ASSERT_EQ(plat::GetMessage(&msg, 0, 0, 0), 1);
    ticks += msg.message == plat::WM_TIMER ? 1 : 0;
  }
  EXPECT_GE(ticks, 10);
  EXPECT_LE(ticks, 30);
}

TEST_F(TimerTest, NoTicksPileUpWhileTheThreadDoesNotLook) {
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 20, nullptr), 0u);
  std::this_thread::sleep_for(400ms);  // twenty periods
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.message, plat::WM_TIMER);
  EXPECT_EQ(msg.hwnd, hwnd_);
  EXPECT_EQ(msg.wParam, 1u);
  // The next one is due a period after this one was taken.
  EXPECT_FALSE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
}

TEST_F(TimerTest, ATickLookedAtWithoutRemovalStaysTheOnlyOne) {
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 10, nullptr), 0u);
  std::this_thread::sleep_for(50ms);
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_NOREMOVE));
  EXPECT_EQ(msg.message, plat::WM_TIMER);
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_NOREMOVE));
  EXPECT_EQ(msg.message, plat::WM_TIMER);
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.message, plat::WM_TIMER);
  EXPECT_FALSE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
}

TEST_F(TimerTest, PostedMessagesComeBeforeTicks) {
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 10, nullptr), 0u);
  std::this_thread::sleep_for(30ms);
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, 0, 0));
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.message, plat::WM_USER);
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.message, plat::WM_TIMER);
}

TEST_F(TimerTest, FiltersApplyToTicks) {
  Recorder recorder;
  const plat::HWND other = cls_.Create(&recorder);
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 10, nullptr), 0u);
  std::this_thread::sleep_for(30ms);
  plat::MSG msg;
  EXPECT_FALSE(plat::PeekMessage(&msg, other, 0, 0, plat::PM_REMOVE));
  EXPECT_FALSE(plat::PeekMessage(&msg, 0, plat::WM_USER, plat::WM_USER, plat::PM_REMOVE));
  ASSERT_TRUE(plat::PeekMessage(&msg, hwnd_, plat::WM_TIMER, plat::WM_TIMER, plat::PM_REMOVE));
  EXPECT_EQ(msg.hwnd, hwnd_);
  plat::DestroyWindow(other);
}

TEST_F(TimerTest, SettingAgainRestartsTheSameTimer) {
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 10, nullptr), 0u);
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 10000, nullptr), 0u);
  EXPECT_EQ(PumpTicks(200ms, hwnd_, 1), 0);
  EXPECT_TRUE(plat::KillTimer(hwnd_, 1));
  EXPECT_FALSE(plat::KillTimer(hwnd_, 1));
}

TEST_F(TimerTest, KillTimerStopsTicksEvenWhenOneIsDue) {
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 10, nullptr), 0u);
  ASSERT_NE(plat::SetTimer(hwnd_, 2, 10, nullptr), 0u);
  std::this_thread::sleep_for(30ms);
  EXPECT_TRUE(plat::KillTimer(hwnd_, 1));
  EXPECT_EQ(PumpTicks(200ms, hwnd_, 1), 0);
  EXPECT_GE(recorder_.Count(plat::WM_TIMER), 1);  // timer 2 kept going
}

TEST_F(TimerTest, DestroyWindowStopsItsTimers) {
  Recorder recorder;
  const plat::HWND doomed = cls_.Create(&recorder);
  ASSERT_NE(plat::SetTimer(doomed, 1, 10, nullptr), 0u);
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 10, nullptr), 0u);
  std::this_thread::sleep_for(30ms);
  ASSERT_TRUE(plat::DestroyWindow(doomed));
  EXPECT_EQ(PumpTicks(200ms, doomed, 1), 0);
  EXPECT_EQ(recorder.Count(plat::WM_TIMER), 0);
  EXPECT_GE(recorder_.Count(plat::WM_TIMER), 1);
}

TEST_F(TimerTest, TimersOfAnotherThreadTickThereOnly) {
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 10, nullptr), 0u);
  int other_ticks = -1;
  std::thread([&] {
    TestClass cls;
    Recorder recorder;
    const plat::HWND mine = cls.Create(&recorder);
    plat::SetTimer(mine, 5, 10, nullptr);
    other_ticks = PumpTicks(200ms, mine, 5);
    EXPECT_EQ(PumpTicks(100ms, hwnd_, 1), 0);  // never the other thread's
    plat::DestroyWindow(mine);
  }).join();
  EXPECT_GE(other_ticks, 1);
  EXPECT_GE(PumpTicks(50ms, hwnd_, 1), 1);
}

}  // namespace
