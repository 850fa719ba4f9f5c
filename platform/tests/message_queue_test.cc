// Posting, peeking, getting and dispatching messages; a full queue; posting
// from several threads at once to a reader that polls the queue's descriptor.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "plat/plat.h"
#include "test_window.h"

namespace {

using plat_test::Readable;

class MessageQueueTest : public ::testing::Test {
 protected:
  void TearDown() override {
    plat::DestroyWindow(hwnd_);
    plat::DestroyWindow(other_);
    plat_test::PumpAll();
  }
  plat_test::TestClass cls_;
  const plat::HWND hwnd_ = cls_.Create();
  const plat::HWND other_ = cls_.Create();
};

TEST_F(MessageQueueTest, FiltersTakeMessagesInOrderAndQuitComesLastUnfiltered) {
  plat::PostQuitMessage(3);
  ASSERT_TRUE(plat::PostMessage(other_, plat::WM_USER, 1, -1));
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER + 5, 2, 0));
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER + 9, 3, 0));
  ASSERT_TRUE(plat::PostMessage(other_, plat::WM_USER + 5, 4, 0));
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_NOREMOVE));  // looking leaves it first
  EXPECT_EQ(msg.hwnd, other_);
  EXPECT_EQ(msg.lParam, -1);
  ASSERT_TRUE(plat::PeekMessage(&msg, hwnd_, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.wParam, 2u);
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, plat::WM_USER + 5, plat::WM_USER + 6, plat::PM_REMOVE));
  EXPECT_EQ(msg.wParam, 4u);
  for (const plat::WPARAM expected : {1u, 3u})
    EXPECT_TRUE(plat::GetMessage(&msg, 0, 0, 0) == 1 && msg.wParam == expected) << expected;
  EXPECT_FALSE(plat::PeekMessage(&msg, hwnd_, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(plat::GetMessage(&msg, 0, 0, 0), 0);
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_FALSE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
}

TEST_F(MessageQueueTest, GetMessageWaitsForWhatItFiltersWhileAnotherThreadPosts) {
  std::thread poster([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    plat::PostMessage(other_, plat::WM_USER + 1, 0, 0);  // not what is waited for
    plat::PostMessage(hwnd_, plat::WM_USER, 77, 0);
  });
  plat::MSG msg;
  EXPECT_EQ(plat::GetMessage(&msg, hwnd_, 0, 0), 1);
  poster.join();
  EXPECT_EQ(msg.wParam, 77u);
  EXPECT_EQ(plat_test::PumpAll(), 1);  // the other one waited
}

TEST_F(MessageQueueTest, AFullQueueRefusesFurtherPostsButNotQuit) {
  for (std::size_t i = 0; i < plat::kMaxQueuedMessages; ++i)
    ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, i, 0)) << i;
  EXPECT_FALSE(plat::PostMessage(other_, plat::WM_USER, 0, 0));  // the queue is the thread's
  plat::PostQuitMessage(0);
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, 1, 0));
  EXPECT_FALSE(plat::PostMessage(hwnd_, plat::WM_USER, 2, 0));
  std::size_t taken = 0;
  while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE) && msg.message != plat::WM_QUIT)
    ++taken;
  EXPECT_EQ(taken, plat::kMaxQueuedMessages);
  EXPECT_EQ(msg.message, plat::WM_QUIT);
}

// The reader sleeps in poll() on the queue's descriptor, as a host's loop
// would; the descriptor is each thread's own.
TEST_F(MessageQueueTest, TwoThreadsPostingAtOnceWakeAPollLoopAndLoseNothing) {
  int other = plat::GetQueueFd();
  std::thread([&] { other = plat::GetQueueFd(); }).join();
  EXPECT_NE(other, plat::GetQueueFd());
  constexpr int kPerThread = 20000;      // more than the queue holds: posters retry when full
  std::atomic<bool> reader_gone{false};  // the posters then stop retrying
  auto poster = [&](plat::WPARAM sender) {
    for (int i = 0; i < kPerThread; ++i) {
      while (!plat::PostMessage(hwnd_, plat::WM_USER, sender, i) && !reader_gone)
        std::this_thread::yield();
    }
  };
  std::thread a(poster, 0);
  std::thread b(poster, 1);
  std::vector<plat::LPARAM> next(2, 0);
  int silent_polls = 0;
  plat::MSG msg;
  while (next[0] + next[1] < 2 * kPerThread && silent_polls < 5) {
    if (!plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
      silent_polls += Readable(1000) ? 0 : 1;
      continue;
    }
    // Each sender's messages arrive once each, in the order posted.
    EXPECT_EQ(msg.lParam, next[msg.wParam & 1]) << "sender " << msg.wParam;
    ++next[msg.wParam & 1];
  }
  reader_gone = true;
  a.join();
  b.join();
  EXPECT_EQ(silent_polls, 0);
  EXPECT_EQ(next, std::vector<plat::LPARAM>({kPerThread, kPerThread}));
}

}  // namespace
