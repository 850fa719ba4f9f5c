// The queue's file descriptor: readable exactly while messages or due timers
// wait, so that a host can pump from poll(), epoll, GLib or Qt.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "plat/plat.h"
#include "test_window.h"

namespace {

using namespace std::chrono_literals;
using plat_test::Recorder;
using plat_test::TestClass;

bool Readable(int fd, int timeout_ms = 0) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeout_ms) == 1 && (p.revents & POLLIN) != 0;
}

class QueueFdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hwnd_ = cls_.Create(&recorder_);
    ASSERT_NE(hwnd_, 0u);
    fd_ = plat::GetQueueFd();
    ASSERT_GE(fd_, 0);
  }
  void TearDown() override {
    plat::DestroyWindow(hwnd_);
    plat_test::PumpAll();
  }

  TestClass cls_;
  Recorder recorder_;
  plat::HWND hwnd_ = 0;
  int fd_ = -1;
};

TEST_F(QueueFdTest, OneDescriptorPerThread) {
  EXPECT_EQ(plat::GetQueueFd(), fd_);
  int other = -1;
  std::thread([&] { other = plat::GetQueueFd(); }).join();
  EXPECT_GE(other, 0);
  EXPECT_NE(other, fd_);
}

TEST_F(QueueFdTest, ReadableWhilePostedMessagesWait) {
  EXPECT_FALSE(Readable(fd_));
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, 0, 0));
  ASSERT_TRUE(plat::PostMessage(hwnd_, plat::WM_USER, 1, 0));
  EXPECT_TRUE(Readable(fd_));
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_NOREMOVE));
  EXPECT_TRUE(Readable(fd_));
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_TRUE(Readable(fd_));
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_FALSE(Readable(fd_));
}

TEST_F(QueueFdTest, QuitMakesItReadable) {
  plat::PostQuitMessage(0);
  EXPECT_TRUE(Readable(fd_));
  plat::MSG msg;
  EXPECT_EQ(plat::GetMessage(&msg, 0, 0, 0), 0);
  EXPECT_FALSE(Readable(fd_));
}

TEST_F(QueueFdTest, APostFromAnotherThreadWakesPoll) {
  std::thread poster([this] {
    std::this_thread::sleep_for(50ms);
    plat::PostMessage(hwnd_, plat::WM_USER, 5, 0);
  });
  EXPECT_TRUE(Readable(fd_, 10000));
  poster.join();
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.wParam, 5u);
}

TEST_F(QueueFdTest, ReadableFromATimersDueTimeUntilTheTickIsTaken) {
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 100, nullptr), 0u);
  EXPECT_FALSE(Readable(fd_));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Readable(fd_, 10000));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
  EXPECT_TRUE(Readable(fd_));  // still due: nobody took the tick
  plat::MSG msg;
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_NOREMOVE));
  EXPECT_TRUE(Readable(fd_));
  ASSERT_TRUE(plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE));
  EXPECT_EQ(msg.message, plat::WM_TIMER);
  EXPECT_FALSE(Readable(fd_));
  ASSERT_TRUE(plat::KillTimer(hwnd_, 1));
  EXPECT_FALSE(Readable(fd_, 200));
}

TEST_F(QueueFdTest, APlainPollLoopPumpsEverything) {
  constexpr int kMessages = 200;
  std::thread poster([this] {
    for (int i = 0; i < kMessages; ++i) {
      plat::PostMessage(hwnd_, plat::WM_USER, static_cast<plat::WPARAM>(i), 0);
      if (i % 20 == 0)
        std::this_thread::sleep_for(2ms);
    }
  });
  ASSERT_NE(plat::SetTimer(hwnd_, 1, 20, nullptr), 0u);
  int received = 0;
  int ticks = 0;
  const auto end = std::chrono::steady_clock::now() + 10s;
  while ((received < kMessages || ticks < 3) && std::chrono::steady_clock::now() < end) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 1000) != 1)
      continue;
    plat::MSG msg;
    while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
      if (msg.message == plat::WM_USER) {
        EXPECT_EQ(msg.wParam, static_cast<plat::WPARAM>(received));
        ++received;
      } else if (msg.message == plat::WM_TIMER) {
        ++ticks;
      }
      plat::DispatchMessage(&msg);
    }
  }
  poster.join();
  EXPECT_EQ(received, kMessages);
  EXPECT_GE(ticks, 3);
  plat::KillTimer(hwnd_, 1);
}

}  // namespace
