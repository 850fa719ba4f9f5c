// Window timers: ticks made only while the owner thread looks at its queue, at
// most one pending, none after KillTimer or DestroyWindow; generous time bounds.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "plat/plat.h"
#include "test_window.h"

namespace {

using namespace std::chrono_literals;
using plat_test::Readable;
using Clock = std::chrono::steady_clock;

class TimerTest : public ::testing::Test {
 protected:
  void TearDown() override {
    plat::DestroyWindow(hwnd_);
    plat_test::PumpAll();
  }
  plat_test::TestClass cls_;
  const plat::HWND hwnd_ = cls_.Create();
};

TEST_F(TimerTest, OneTickWaitsAfterPostedMessagesAndTheNextIsAPeriodAfterItWasTaken) {
  EXPECT_EQ(plat::SetTimer(hwnd_, 0, 50, nullptr), 0u);  // no id
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 100, nullptr), 0u);
  std::this_thread::sleep_for(350ms);  // three periods unlooked at
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, 0, 0));
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.message, plat::WM_USER);
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_TRUE(msg.message == plat::WM_TIMER && msg.wParam == 1u);
  EXPECT_FALSE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
}

TEST_F(TimerTest, TheQueuesDescriptorIsReadableFromTheDueTimeUntilTheTickIsTaken) {
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 100, nullptr), 0u);
  EXPECT_FALSE(Readable());
  ASSERT_TRUE(Readable(10000));
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_NOREMOVE));
  EXPECT_TRUE(Readable());  // still due: nobody took the tick
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_FALSE(Readable());
  ASSERT_TRUE(plat::KillTimer(hwnd_, 1));
  EXPECT_FALSE(Readable(200));
}

TEST_F(TimerTest, ResetKilledAndDestroyedTimersStopAndNoneTicksOnAnotherThread) {
  const plat::HWND doomed = cls_.Create();
  for (plat::UINT_PTR id : {1, 2, 3})
    ASSERT_NE(plat::SetTimer(hwnd_, id, 10, nullptr), 0u);
  ASSERT_NE(plat::SetTimer(doomed, 1, 10, nullptr), 0u);
  std::this_thread::sleep_for(30ms);  // all due
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 10000, nullptr), 0u);
  EXPECT_TRUE(plat::KillTimer(hwnd_, 2));
  ASSERT_TRUE(plat::DestroyWindow(doomed));
  std::thread other([] {  // due ticks are the owner thread's only
    plat::MSG msg;
    EXPECT_FALSE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  });
  other.join();
  std::map<std::pair<plat::HWND, plat::UINT_PTR>, int> ticks;
  plat::MSG msg;
  for (auto end = Clock::now() + 200ms; Clock::now() < end && plat::GetMessage(&msg, 0, 0, 0);)
    ticks[{msg.hwnd, msg.wParam}] += msg.message == plat::WM_TIMER;
  EXPECT_EQ((ticks[{hwnd_, 1}]) + (ticks[{hwnd_, 2}]) + (ticks[{doomed, 1}]), 0);
  EXPECT_GE((ticks[{hwnd_, 3}]), 1);  // the other kept going
  EXPECT_TRUE(plat::KillTimer(hwnd_, 1));
  EXPECT_FALSE(plat::KillTimer(hwnd_, 1));
}

}  // namespace
