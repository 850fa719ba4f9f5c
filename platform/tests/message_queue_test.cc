// Posting, peeking, getting and dispatching messages; a full queue; the
// queue's descriptor; posting from several threads at once.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "plat/plat.h"
#include "test_window.h"

namespace {

using plat_test::Readable;
using plat_test::Recorder;
using plat_test::TestClass;

class MessageQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(hwnd_ = cls_.Create(&recorder_), 0u);
    ASSERT_NE(other_ = cls_.Create(), 0u);
  }
  void TearDown() override {
    plat::DestroyWindow(hwnd_);
    plat::DestroyWindow(other_);
    plat_test::PumpAll();
  }

  TestClass cls_;
  Recorder recorder_;
  plat::HWND hwnd_ = 0;
  plat::HWND other_ = 0;
};

TEST_F(MessageQueueTest, PeekAndFiltersTakeMessagesInOrderAndQuitComesLastUnfiltered) {
  const auto now_ms =
      static_cast<plat::DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
  plat::PostQuitMessage(3);
  ASSERT_TRUE(plat::PostMessage(other_, plat::WM_USER, 1, -1));
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER + 5, 2, 0));
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER + 9, 3, 0));
  ASSERT_TRUE(plat::PostMessage(other_, plat::WM_USER + 5, 4, 0));
  plat::MSG msg;
  for (int look = 0; look < 2; ++look) {  // looking leaves it first
    ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_NOREMOVE));
    EXPECT_EQ(msg.wParam, 1u);
  }
  EXPECT_EQ(msg.hwnd, other_);
  EXPECT_EQ(msg.message, plat::WM_USER);
  EXPECT_EQ(msg.lParam, -1);
  EXPECT_LE(msg.time - now_ms, 1000u);  // the posting time
  ASSERT_TRUE(plat::PeekMessage(&msg, hwnd_, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.wParam, 2u);
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, plat::WM_USER + 5, plat::WM_USER + 6, plat::PM_REMOVE));
  EXPECT_EQ(msg.wParam, 4u);
  EXPECT_FALSE(
      plat::PeekMessage(&msg, other_, plat::WM_USER + 1, plat::WM_USER + 8, plat::PM_REMOVE));
  for (const plat::WPARAM expected : {1u, 3u}) {
    EXPECT_EQ(plat::GetMessage(&msg, 0, 0, 0), 1);
    EXPECT_EQ(msg.wParam, expected);
  }
  EXPECT_FALSE(plat::PeekMessage(&msg, hwnd_, 0, 0, plat::PM_REMOVE));
  EXPECT_FALSE(plat::PeekMessage(&msg, 0, plat::WM_USER, plat::WM_USER, plat::PM_REMOVE));
  EXPECT_EQ(plat::GetMessage(&msg, 0, 0, 0), 0);
  EXPECT_EQ(msg.message, plat::WM_QUIT);
  EXPECT_EQ(msg.wParam, 3u);
  EXPECT_FALSE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_FALSE(plat::PeekMessage(nullptr, 0, 0, 0, plat::PM_REMOVE));
}

TEST_F(MessageQueueTest, GetMessageBlocksUntilAnotherThreadPostsWhatItWaitsFor) {
  std::thread poster([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    plat::PostMessage(other_, plat::WM_USER + 1, 0, 0);  // not what is waited for
    plat::PostMessage(hwnd_, plat::WM_USER, 77, 0);
  });
  plat::MSG msg;
  EXPECT_EQ(plat::GetMessage(&msg, hwnd_, 0, 0), 1);
  poster.join();
  EXPECT_EQ(msg.wParam, 77u);
  EXPECT_EQ(plat_test::PumpAll(), 1);  // the other one waits
}

TEST_F(MessageQueueTest, AFullQueueRefusesFurtherPosts) {
  for (std::size_t i = 0; i < plat::kMaxQueuedMessages; ++i)
    ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, i, 0)) << i;
  EXPECT_FALSE(plat::PostMessage(hwnd_, plat::WM_USER, 0, 0));
  EXPECT_FALSE(plat::PostMessage(other_, plat::WM_USER, 0, 0));  // the queue is the thread's
  plat::PostQuitMessage(0);                                      // still heard
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.wParam, 0u);
  EXPECT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, 1, 0));
  EXPECT_FALSE(plat::PostMessage(hwnd_, plat::WM_USER, 2, 0));
  std::size_t taken = 0;
  while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE) && msg.message != plat::WM_QUIT)
    ++taken;
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

TEST_F(MessageQueueTest, TheDescriptorIsTheThreadsAndReadableWhileMessagesOrQuitWait) {
  const int fd = plat::GetQueueFd();
  EXPECT_EQ(plat::GetQueueFd(), fd);
  int other = fd;
  std::thread([&] { other = plat::GetQueueFd(); }).join();
  EXPECT_GE(other, 0);
  EXPECT_NE(other, fd);

  EXPECT_FALSE(Readable());
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, 0, 0));
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, 1, 0));
  plat::PostQuitMessage(0);
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_NOREMOVE));
  EXPECT_TRUE(Readable());
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_TRUE(Readable());  // the quit still waits
  EXPECT_EQ(plat::GetMessage(&msg, 0, 0, 0), 0);
  EXPECT_FALSE(Readable());
}

// The reader sleeps in poll() on the queue's descriptor, as a host's loop would.
TEST_F(MessageQueueTest, TwoThreadsPostingAtOnceWakeAPollLoopAndLoseNothing) {
  constexpr int kPerThread = 20000;  // more than the queue holds: posters retry when full
  auto poster = [&](plat::WPARAM sender) {
    for (int i = 0; i < kPerThread; ++i) {
      while (!plat::PostMessage(hwnd_, plat::WM_USER, sender, i))
        std::this_thread::yield();
    }
  };
  std::thread a(poster, 0);
  std::thread b(poster, 1);
  std::vector<plat::LPARAM> next(2, 0);
  int received = 0;
  int silent_polls = 0;
  plat::MSG msg;
  while (received < 2 * kPerThread && silent_polls < 5) {
    if (!plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
      silent_polls += Readable(1000) ? 0 : 1;
      continue;
    }
    // Each sender's messages arrive once each, in the order posted.
    EXPECT_EQ(msg.lParam, next[msg.wParam & 1]) << "sender " << msg.wParam;
    ++next[msg.wParam & 1];
    ++received;
  }
  a.join();
  b.join();
  EXPECT_EQ(silent_polls, 0);
  EXPECT_EQ(next, std::vector<plat::LPARAM>({kPerThread, kPerThread}));
  EXPECT_FALSE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
}

}  // namespace
