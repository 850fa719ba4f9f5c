#include "manager/ksn_timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>

#include "plat/message.h"
#include "plat/window.h"
#include "support/pump.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using vc_test::CountWindowsOfClass;
using vc_test::PumpFor;

enum class Reaction { kCount, kThrowRuntimeError };

class CountingTimer final : public ksn::timer {
 public:
  explicit CountingTimer(Reaction reaction = Reaction::kCount) : reaction_(reaction) {}
  void OnTimer() override {
    ++ticks;
    if (reaction_ == Reaction::kThrowRuntimeError)
      throw std::runtime_error("tick failed");
  }
  using ksn::timer::HoldTicks;

  int ticks = 0;

 private:
  Reaction reaction_;
};

// ---------------------------------------------------------------------------
// The window

TEST(KsnTimerTest, MakesOneHiddenWindowNamedLikeItsClass) {
  CountingTimer timer;
  ASSERT_NE(timer.timer_window(), 0u);
  EXPECT_EQ(plat::GetClassName(timer.timer_window()), "timer_dispatcher_ksnx");
  EXPECT_EQ(plat::GetWindowText(timer.timer_window()), "timer_dispatcher_ksnx");
  EXPECT_EQ(CountWindowsOfClass("timer_dispatcher_ksnx"), 1);
  EXPECT_EQ(plat::GetWindowLongPtr(timer.timer_window(), plat::GWL_USERDATA),
            reinterpret_cast<plat::LONG_PTR>(static_cast<ksn::timer*>(&timer)));
}

TEST(KsnTimerTest, DestructionLeavesNoWindowAndUnregistersTheClass) {
  auto timer = std::make_unique<CountingTimer>();
  const plat::HWND window = timer->timer_window();
  timer.reset();
  EXPECT_FALSE(plat::IsWindow(window));
  EXPECT_EQ(CountWindowsOfClass("timer_dispatcher_ksnx"), 0);
  EXPECT_TRUE(vc_test::ClassIsFree("timer_dispatcher_ksnx"));
}

// ---------------------------------------------------------------------------
// Ticks

// When ticks come (only while the owner thread looks, never to another
// thread) is the porting layer's timer test; this is the period and the call.
TEST(KsnTimerTest, TicksAboutEvery50msWhileItsThreadPumps) {
  CountingTimer timer;
  PumpFor(500ms);
  // 10 expected; a loaded machine pumps late but never gets more than one
  // tick per period.
  EXPECT_GE(timer.ticks, 3);
  EXPECT_LE(timer.ticks, 13);
}

TEST(KsnTimerTest, RuntimeErrorsFromTheTickAreDropped) {
  CountingTimer failing(Reaction::kThrowRuntimeError);
  EXPECT_EQ(plat::SendMessage(failing.timer_window(), plat::WM_TIMER, ksn::timer::kTimerId, 0), 0);
  EXPECT_EQ(failing.ticks, 1);
  failing.ticks = 0;
  PumpFor(200ms);  // the loop survives every failing tick
  EXPECT_GT(failing.ticks, 0);
}

TEST(KsnTimerTest, HeldTicksAreDiscarded) {
  CountingTimer timer;
  timer.HoldTicks();
  plat::SendMessage(timer.timer_window(), plat::WM_TIMER, ksn::timer::kTimerId, 0);
  PumpFor(200ms);
  EXPECT_EQ(timer.ticks, 0);
}

TEST(KsnTimerTest, QueuedTickIsDiscardedAtDestruction) {
  plat::WNDCLASS wc;
  wc.lpfnWndProc = &plat::DefWindowProc;
  wc.hInstance = plat::GetModuleHandle(nullptr);
  wc.lpszClassName = "ksn_timer_test_sentinel";
  plat::RegisterClass(&wc);
  const plat::HWND sentinel =
      plat::CreateWindow(wc.lpszClassName, "", 0, 0, 0, 0, 0, 0, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(sentinel, 0u);

  auto timer = std::make_unique<CountingTimer>();
  const plat::HWND window = timer->timer_window();
  ASSERT_TRUE(plat::PostMessage(window, plat::WM_TIMER, ksn::timer::kTimerId, 0));
  ASSERT_TRUE(plat::PostMessage(sentinel, plat::WM_USER, 0, 0));
  timer.reset();

  int for_timer = 0;
  int for_sentinel = 0;
  plat::MSG msg;
  while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
    if (msg.hwnd == window)
      ++for_timer;
    if (msg.hwnd == sentinel)
      ++for_sentinel;
  }
  EXPECT_EQ(for_timer, 0);
  EXPECT_EQ(for_sentinel, 1);  // other windows' messages stay queued
  plat::DestroyWindow(sentinel);
  plat::UnregisterClass(wc.lpszClassName, wc.hInstance);
}

// A window of the timer's class whose link points at a timer that lives in
// another window: the link is dropped and nothing is called.
TEST(KsnTimerTest, TickInAForeignWindowDetachesTheLink) {
  CountingTimer timer;
  const plat::HWND foreign =
      plat::CreateWindow("timer_dispatcher_ksnx", "foreign", 0, 0, 0, 0, 0, 0, nullptr,
                         plat::GetModuleHandle(nullptr), nullptr);
  ASSERT_NE(foreign, 0u);
  plat::SetWindowLongPtr(foreign, plat::GWL_USERDATA,
                         reinterpret_cast<plat::LONG_PTR>(static_cast<ksn::timer*>(&timer)));
  EXPECT_EQ(plat::SendMessage(foreign, plat::WM_TIMER, ksn::timer::kTimerId, 0), 0);
  EXPECT_EQ(timer.ticks, 0);
  EXPECT_EQ(plat::GetWindowLongPtr(foreign, plat::GWL_USERDATA), 0);
  // The timer's own window keeps its link.
  EXPECT_NE(plat::GetWindowLongPtr(timer.timer_window(), plat::GWL_USERDATA), 0);
  plat::DestroyWindow(foreign);
}

}  // namespace
