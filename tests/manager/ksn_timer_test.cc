#include "manager/ksn_timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>

#include "plat/message.h"
#include "plat/window.h"
#include "support/host_window.h"
#include "support/pump.h"

namespace {

using namespace std::chrono_literals;

class CountingTimer final : public ksn::timer {
 public:
  explicit CountingTimer(bool fail = false) : fail_(fail) {}
  void OnTimer() override {
    ++ticks;
    if (fail_)
      throw std::runtime_error("tick failed");
  }
  using ksn::timer::HoldTicks;

  int ticks = 0;

 private:
  bool fail_;
};

// One hidden window of its class while it lives; none, no class and no
// queued tick once it is gone, while other windows' messages stay queued.
TEST(KsnTimerTest, LivesInOneHiddenWindowAndLeavesNothingQueued) {
  vc_test::HostWindow sentinel(1, 1, 0);
  auto timer = std::make_unique<CountingTimer>();
  const plat::HWND window = timer->timer_window();
  ASSERT_NE(window, 0u);
  EXPECT_EQ(plat::GetWindowText(window), "timer_dispatcher_ksnx");
  EXPECT_EQ(vc_test::CountWindowsOfClass("timer_dispatcher_ksnx"), 1);
  ASSERT_TRUE(plat::PostMessage(window, plat::WM_TIMER, ksn::timer::kTimerId, 0));
  ASSERT_TRUE(plat::PostMessage(sentinel.hwnd(), plat::WM_USER, 0, 0));
  timer.reset();

  EXPECT_FALSE(plat::IsWindow(window));
  EXPECT_TRUE(vc_test::ClassIsFree("timer_dispatcher_ksnx"));
  int for_timer = 0;
  int for_sentinel = 0;
  plat::MSG msg;
  while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
    for_timer += msg.hwnd == window;
    for_sentinel += msg.hwnd == sentinel.hwnd();
  }
  EXPECT_EQ(for_timer, 0);
  EXPECT_EQ(for_sentinel, 1);
}

// When ticks come (only while the owner thread looks, never to another
// thread) is the porting layer's timer test; this is the period, the call, a
// loop that survives failing ticks, and held ticks discarded.
TEST(KsnTimerTest, TicksAbout50msWhileItsThreadPumpsUnlessHeld) {
  CountingTimer timer(true);
  vc_test::PumpFor(500ms);
  // 10 expected; a loaded machine pumps late but never gets more than one
  // tick per period.
  EXPECT_GE(timer.ticks, 3);
  EXPECT_LE(timer.ticks, 13);
  timer.HoldTicks();
  timer.ticks = 0;
  plat::SendMessage(timer.timer_window(), plat::WM_TIMER, ksn::timer::kTimerId, 0);
  vc_test::PumpFor(200ms);
  EXPECT_EQ(timer.ticks, 0);
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
  EXPECT_NE(plat::GetWindowLongPtr(timer.timer_window(), plat::GWL_USERDATA), 0);
  plat::DestroyWindow(foreign);
}

}  // namespace
