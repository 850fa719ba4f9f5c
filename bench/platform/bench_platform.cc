// Message queue throughput and latency of the porting layer, beside a plain
// std::mutex + std::deque queue doing the same work as the reference.
//
//   CrossThread: one thread posts, the benchmark thread takes (PeekMessage).
//   PingPong:    two threads bounce one message, each blocking in GetMessage.
//   SameThread:  post one message and take it back on one thread.
//   TimerWake, PostedWake: CPU of a thread asleep on its queue's descriptor,
//   as a host's event loop sleeps, for each wake-up by a window timer or by a
//   message another thread posts after a pause (the CPU column; the real time
//   is the pause). On a virtual machine
//   a wake-up by a timer can cost several times one by another thread: the
//   figure behind every periodic tick.
#include <benchmark/benchmark.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "plat/plat.h"

namespace {

constexpr plat::UINT kPing = plat::WM_USER + 1;

// ---------------------------------------------------------------- reference

class ReferenceQueue {
 public:
  bool Post(const plat::MSG& msg) {
    {
      std::lock_guard lock(mutex_);
      if (messages_.size() >= plat::kMaxQueuedMessages)
        return false;
      messages_.push_back(msg);
    }
    ready_.notify_one();
    return true;
  }
  bool Peek(plat::MSG* msg) {
    std::lock_guard lock(mutex_);
    if (messages_.empty())
      return false;
    *msg = messages_.front();
    messages_.pop_front();
    return true;
  }
  void Get(plat::MSG* msg) {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return !messages_.empty(); });
    *msg = messages_.front();
    messages_.pop_front();
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<plat::MSG> messages_;
};

void BM_Reference_CrossThread(benchmark::State& state) {
  ReferenceQueue queue;
  const auto total = static_cast<std::int64_t>(state.max_iterations);
  std::thread producer([&] {
    for (std::int64_t i = 0; i < total; ++i) {
      while (!queue.Post(plat::MSG{1, kPing, 0, static_cast<plat::LPARAM>(i), 0})) {
        std::this_thread::yield();
      }
    }
  });
  plat::MSG msg;
  for (auto _ : state) {
    while (!queue.Peek(&msg)) {
    }
    benchmark::DoNotOptimize(msg);
  }
  producer.join();
  state.SetItemsProcessed(state.iterations());
}

void BM_Reference_PingPong(benchmark::State& state) {
  ReferenceQueue to_echo;
  ReferenceQueue to_bench;
  std::thread echo([&] {
    plat::MSG msg;
    for (;;) {
      to_echo.Get(&msg);
      if (msg.message == plat::WM_QUIT)
        return;
      to_bench.Post(msg);
    }
  });
  plat::MSG msg{1, kPing, 0, 0, 0};
  for (auto _ : state) {
    to_echo.Post(msg);
    to_bench.Get(&msg);
  }
  to_echo.Post(plat::MSG{1, plat::WM_QUIT, 0, 0, 0});
  echo.join();
  state.SetItemsProcessed(state.iterations());
}

void BM_Reference_SameThread(benchmark::State& state) {
  ReferenceQueue queue;
  plat::MSG msg;
  for (auto _ : state) {
    queue.Post(plat::MSG{1, kPing, 0, 0, 0});
    queue.Peek(&msg);
    benchmark::DoNotOptimize(msg);
  }
  state.SetItemsProcessed(state.iterations());
}

// ------------------------------------------------------------ porting layer

plat::LRESULT BenchProc(plat::HWND hwnd, plat::UINT message, plat::WPARAM wparam,
                        plat::LPARAM lparam) {
  return plat::DefWindowProc(hwnd, message, wparam, lparam);
}

// A class for the benchmark's hidden windows, registered once.
const char* BenchClass() {
  static const char* const name = [] {
    plat::WNDCLASS wc;
    wc.lpfnWndProc = BenchProc;
    wc.lpszClassName = "plat_bench_window";
    plat::RegisterClass(&wc);
    return "plat_bench_window";
  }();
  return name;
}

plat::HWND MakeWindow() {
  return plat::CreateWindow(BenchClass(), "", 0, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr);
}

void BM_Plat_CrossThread(benchmark::State& state) {
  const plat::HWND hwnd = MakeWindow();
  const auto total = static_cast<std::int64_t>(state.max_iterations);
  std::thread producer([&] {
    for (std::int64_t i = 0; i < total; ++i) {
      while (!plat::PostMessage(hwnd, kPing, 0, static_cast<plat::LPARAM>(i))) {
        std::this_thread::yield();
      }
    }
  });
  plat::MSG msg;
  for (auto _ : state) {
    while (!plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
    }
    benchmark::DoNotOptimize(msg);
  }
  producer.join();
  plat::DestroyWindow(hwnd);
  state.SetItemsProcessed(state.iterations());
}

void BM_Plat_PingPong(benchmark::State& state) {
  const plat::HWND bench_window = MakeWindow();
  std::atomic<plat::HWND> echo_window{0};
  std::thread echo([&] {
    const plat::HWND mine = MakeWindow();
    echo_window = mine;
    plat::MSG msg;
    while (plat::GetMessage(&msg, 0, 0, 0) > 0) {
      plat::PostMessage(bench_window, msg.message, msg.wParam, msg.lParam);
    }
    plat::DestroyWindow(mine);
  });
  while (echo_window == 0)
    std::this_thread::yield();
  plat::MSG msg;
  for (auto _ : state) {
    plat::PostMessage(echo_window, kPing, 0, 0);
    plat::GetMessage(&msg, 0, 0, 0);
  }
  // A posted WM_QUIT ends the echo thread's GetMessage loop.
  plat::PostMessage(echo_window, plat::WM_QUIT, 0, 0);
  echo.join();
  plat::DestroyWindow(bench_window);
  state.SetItemsProcessed(state.iterations());
}

void BM_Plat_SameThread(benchmark::State& state) {
  const plat::HWND hwnd = MakeWindow();
  plat::MSG msg;
  for (auto _ : state) {
    plat::PostMessage(hwnd, kPing, 0, 0);
    plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE);
    benchmark::DoNotOptimize(msg);
  }
  plat::DestroyWindow(hwnd);
  state.SetItemsProcessed(state.iterations());
}

constexpr int kWakePeriodMs = 20;

// Asleep in poll on the queue's descriptor until a message of `kind` can be
// taken, the way the host program waits.
void PollFor(plat::UINT kind) {
  pollfd queue{plat::GetQueueFd(), POLLIN, 0};
  plat::MSG msg;
  for (;;) {
    poll(&queue, 1, -1);
    while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
      plat::DispatchMessage(&msg);
      if (msg.message == kind)
        return;
    }
  }
}

void BM_Plat_TimerWake(benchmark::State& state) {
  const plat::HWND hwnd = MakeWindow();
  plat::SetTimer(hwnd, 1, kWakePeriodMs, nullptr);
  for (auto _ : state) {
    PollFor(plat::WM_TIMER);
  }
  plat::KillTimer(hwnd, 1);
  plat::DestroyWindow(hwnd);
}

void BM_Plat_PostedWake(benchmark::State& state) {
  const plat::HWND hwnd = MakeWindow();
  const auto total = static_cast<std::int64_t>(state.max_iterations);
  std::thread poster([&] {
    for (std::int64_t i = 0; i < total; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kWakePeriodMs));
      plat::PostMessage(hwnd, kPing, 0, 0);
    }
  });
  for (auto _ : state) {
    PollFor(kPing);
  }
  poster.join();
  plat::DestroyWindow(hwnd);
}

BENCHMARK(BM_Reference_CrossThread)->UseRealTime();
BENCHMARK(BM_Plat_CrossThread)->UseRealTime();
BENCHMARK(BM_Reference_PingPong)->UseRealTime();
BENCHMARK(BM_Plat_PingPong)->UseRealTime();
BENCHMARK(BM_Reference_SameThread);
BENCHMARK(BM_Plat_SameThread);
BENCHMARK(BM_Plat_TimerWake)->Iterations(100);
BENCHMARK(BM_Plat_PostedWake)->Iterations(100);

}  // namespace

BENCHMARK_MAIN();
