// Posting, peeking, getting and dispatching messages; bad use; posting from
// several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "plat/plat.h"
#include "test_window.h"

namespace {

using plat_test::Recorder;
using plat_test::TestClass;

class MessageQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hwnd_ = cls_.Create(&recorder_);
    other_ = cls_.Create(&other_recorder_);
    ASSERT_NE(hwnd_, 0u);
    ASSERT_NE(other_, 0u);
  }
  void TearDown() override {
    plat::DestroyWindow(hwnd_);
    plat::DestroyWindow(other_);
    plat_test::PumpAll();
  }

  TestClass cls_;
  Recorder recorder_;
  Recorder other_recorder_;
  plat::HWND hwnd_ = 0;
  plat::HWND other_ = 0;
};

TEST_F(MessageQueueTest, PostingToNullOrDeadHandlesFails) {
  EXPECT_FALSE(plat::PostMessage(0, plat::WM_USER, 0, 0));
  EXPECT_FALSE(plat::PostMessage(0xFFFFFFFFu, plat::WM_USER, 0, 0));
  Recorder recorder;
  const plat::HWND dead = cls_.Create(&recorder);
  ASSERT_TRUE(plat::DestroyWindow(dead));
  EXPECT_FALSE(plat::PostMessage(dead, plat::WM_USER, 0, 0));
  plat::MSG msg;
  EXPECT_FALSE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
}

TEST_F(MessageQueueTest, PeekTakesMessagesInOrderOnlyWhenAskedToRemove) {
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, 1, -1));
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER + 1, 2, -2));
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_NOREMOVE));
  EXPECT_EQ(msg.message, plat::WM_USER);
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_NOREMOVE));
  EXPECT_EQ(msg.message, plat::WM_USER);
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.hwnd, hwnd_);
  EXPECT_EQ(msg.message, plat::WM_USER);
  EXPECT_EQ(msg.wParam, 1u);
  EXPECT_EQ(msg.lParam, -1);
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.message, plat::WM_USER + 1);
  EXPECT_EQ(msg.wParam, 2u);
  EXPECT_EQ(msg.lParam, -2);
  EXPECT_FALSE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_FALSE(plat::PeekMessage(nullptr, 0, 0, 0, plat::PM_REMOVE));
}

TEST_F(MessageQueueTest, WindowAndRangeFiltersLeaveOtherMessagesInOrder) {
  ASSERT_TRUE(plat::PostMessage(other_, plat::WM_USER, 1, 0));
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER + 5, 2, 0));
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER + 9, 3, 0));
  ASSERT_TRUE(plat::PostMessage(other_, plat::WM_USER + 5, 4, 0));
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, hwnd_, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.wParam, 2u);
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, plat::WM_USER + 5, plat::WM_USER + 6, plat::PM_REMOVE));
  EXPECT_EQ(msg.wParam, 4u);
  EXPECT_FALSE(
      plat::PeekMessage(&msg, other_, plat::WM_USER + 1, plat::WM_USER + 8, plat::PM_REMOVE));
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.wParam, 1u);
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.wParam, 3u);
}

TEST_F(MessageQueueTest, MessagesCarryTheirPostingTime) {
  plat::MSG msg;
  const auto before =
      static_cast<plat::DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, 0, 0));
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_LE(msg.time - before, 1000u);
}

TEST_F(MessageQueueTest, QuitComesAfterPostedMessagesAndOnlyWithoutAWindowFilter) {
  plat::PostQuitMessage(3);
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, 0, 0));
  plat::MSG msg;
  EXPECT_EQ(plat::GetMessage(&msg, 0, 0, 0), 1);
  EXPECT_EQ(msg.message, plat::WM_USER);
  EXPECT_FALSE(plat::PeekMessage(&msg, hwnd_, 0, 0, plat::PM_REMOVE));
  EXPECT_FALSE(plat::PeekMessage(&msg, 0, plat::WM_USER, plat::WM_USER, plat::PM_REMOVE));
  EXPECT_EQ(plat::GetMessage(&msg, 0, 0, 0), 0);
  EXPECT_EQ(msg.message, plat::WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_FALSE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
}

TEST_F(MessageQueueTest, GetMessageBlocksUntilAnotherThreadPosts) {
  std::thread poster([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    plat::PostMessage(other_, plat::WM_USER + 1, 0, 0);  // not what is waited for
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    plat::PostMessage(hwnd_, plat::WM_USER, 77, 0);
  });
  plat::MSG msg;
  EXPECT_EQ(plat::GetMessage(&msg, hwnd_, 0, 0), 1);
  poster.join();
  EXPECT_EQ(msg.hwnd, hwnd_);
  EXPECT_EQ(msg.wParam, 77u);
  EXPECT_EQ(plat::GetMessage(&msg, 0, 0, 0), 1);
  EXPECT_EQ(msg.hwnd, other_);
}

TEST_F(MessageQueueTest, GetMessageRefusesWhatWouldWaitForever) {
  plat::MSG msg;
  EXPECT_EQ(plat::GetMessage(nullptr, 0, 0, 0), -1);
  Recorder recorder;
  const plat::HWND dead = cls_.Create(&recorder);
  plat::DestroyWindow(dead);
  EXPECT_EQ(plat::GetMessage(&msg, dead, 0, 0), -1);
  std::atomic<plat::HWND> foreign{0};
  std::atomic<bool> done{false};
  std::thread owner([&] {
    Recorder r;
    foreign = cls_.Create(&r);
    while (!done)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    plat::DestroyWindow(foreign);
  });
  while (foreign == 0)
    std::this_thread::yield();
  // The window lives on the other thread: this thread would never receive its messages.
  EXPECT_EQ(plat::GetMessage(&msg, foreign, 0, 0), -1);
  done = true;
  owner.join();
}

TEST_F(MessageQueueTest, DispatchCallsTheProcedureOnTheOwnerThreadOnly) {
  recorder_.react = [](plat::HWND, plat::UINT, plat::WPARAM wparam, plat::LPARAM) {
    return static_cast<plat::LRESULT>(wparam + 1);
  };
  const plat::MSG msg{hwnd_, plat::WM_USER, 9, 0, 0};
  EXPECT_EQ(plat::DispatchMessage(&msg), 10);
  plat::LRESULT from_other = -1;
  std::thread([&] { from_other = plat::DispatchMessage(&msg); }).join();
  EXPECT_EQ(from_other, 0);
  EXPECT_EQ(recorder_.Count(plat::WM_USER), 1);
  EXPECT_EQ(plat::DispatchMessage(nullptr), 0);
  const plat::MSG thread_message{0, plat::WM_USER, 0, 0, 0};
  EXPECT_EQ(plat::DispatchMessage(&thread_message), 0);
}

TEST_F(MessageQueueTest, MessageWhoseWindowDiedWhileQueuedGoesNowhere) {
  Recorder recorder;
  const plat::HWND doomed = cls_.Create(&recorder);
  ASSERT_TRUE(plat::PostMessage(doomed, plat::WM_USER, 0, 0));
  ASSERT_TRUE(plat::DestroyWindow(doomed));
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.hwnd, doomed);
  EXPECT_EQ(plat::DispatchMessage(&msg), 0);
  EXPECT_EQ(recorder.Count(plat::WM_USER), 0);
  // A window made afterwards never receives it under the old handle.
  Recorder next;
  const plat::HWND fresh = cls_.Create(&next);
  EXPECT_NE(fresh, doomed);
  plat::DestroyWindow(fresh);
}

TEST_F(MessageQueueTest, AFullQueueRefusesFurtherPosts) {
  for (std::size_t i = 0; i < plat::kMaxQueuedMessages; ++i) {
    ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, i, 0)) << i;
  }
  EXPECT_FALSE(plat::PostMessage(hwnd_, plat::WM_USER, 0, 0));
  EXPECT_FALSE(plat::PostMessage(other_, plat::WM_USER, 0, 0));  // the queue is the thread's
  plat::PostQuitMessage(0);                                      // still heard
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.wParam, 0u);
  EXPECT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, 1, 0));
  EXPECT_FALSE(plat::PostMessage(hwnd_, plat::WM_USER, 2, 0));
  std::size_t taken = 0;
  while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE) && msg.message != plat::WM_QUIT) {
    ++taken;
  }
  EXPECT_EQ(taken, plat::kMaxQueuedMessages);
  EXPECT_EQ(msg.message, plat::WM_QUIT);
}

TEST_F(MessageQueueTest, ProceduresMayPostWhileBeingDispatched) {
  recorder_.react = [](plat::HWND hwnd, plat::UINT message, plat::WPARAM wparam, plat::LPARAM) {
    if (message == plat::WM_USER && wparam < 5)
      plat::PostMessage(hwnd, message, wparam + 1, 0);
    return plat::LRESULT{0};
  };
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, 0, 0));
  EXPECT_EQ(plat_test::PumpAll(), 6);
}

TEST_F(MessageQueueTest, TwoThreadsPostingAtOnceLoseAndDuplicateNothing) {
  constexpr int kPerThread = 20000;  // more than the queue holds: posters retry when full
  std::atomic<int> full_answers{0};
  auto poster = [&](plat::WPARAM sender) {
    for (int i = 0; i < kPerThread; ++i) {
      while (!plat::PostMessage(hwnd_, plat::WM_USER, sender, i)) {
        ++full_answers;
        std::this_thread::yield();
      }
    }
  };
  std::thread a(poster, 0);
  std::thread b(poster, 1);
  std::vector<plat::LPARAM> next(2, 0);
  int received = 0;
  plat::MSG msg;
  while (received < 2 * kPerThread) {
    if (!plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
      std::this_thread::yield();
      continue;
    }
    ASSERT_EQ(msg.message, plat::WM_USER);
    ASSERT_LT(msg.wParam, 2u);
    // Each sender's messages arrive once each, in the order posted.
    ASSERT_EQ(msg.lParam, next[msg.wParam]) << "sender " << msg.wParam;
    ++next[msg.wParam];
    ++received;
  }
  a.join();
  b.join();
  EXPECT_EQ(next[0], kPerThread);
  EXPECT_EQ(next[1], kPerThread);
  EXPECT_FALSE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
}

TEST(MessageQueueThreadTest, EachThreadHasItsOwnQueue) {
  TestClass cls;
  Recorder recorder;
  const plat::HWND mine = cls.Create(&recorder);
  ASSERT_TRUE(plat::PostMessage(mine, plat::WM_USER, 0, 0));
  bool other_saw_it = true;
  std::thread([&] {
    plat::MSG msg;
    other_saw_it = plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE);
  }).join();
  EXPECT_FALSE(other_saw_it);
  EXPECT_EQ(plat_test::PumpAll(), 1);
  EXPECT_EQ(recorder.Count(plat::WM_USER), 1);
  plat::DestroyWindow(mine);
}

}  // namespace
