// The shared launcher of child processes: what it starts dies with the
// thread that started it, so a test killed by its timeout leaves no server
// behind, and every wait ends at its deadline.
#include "process/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace {

// Running, neither gone nor a zombie that nobody reaps.
bool Alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string pid_text, name, state;
  return stat >> pid_text >> name >> state && state != "Z";
}

TEST(ChildProcess, DiesWithItsParentAndEveryWaitEnds) {
  std::string error;
  EXPECT_EQ(vc_process::ChildProcess::Start({"/nonexistent/program"}, {}, &error), nullptr);
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;

  auto sleeper = vc_process::ChildProcess::Start({"sleep", "60"}, {}, &error);
  ASSERT_NE(sleeper, nullptr) << error;
  EXPECT_FALSE(sleeper->Wait(100).has_value());
  EXPECT_EQ(sleeper->WaitLine("never", 100), "");
  sleeper->Kill();
  EXPECT_TRUE(WIFSIGNALED(*sleeper->Poll()));

  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t parent = fork();
  if (parent == 0) {
    auto orphan = vc_process::ChildProcess::Start({"sleep", "60"}, {}, &error);
    const pid_t pid = orphan ? orphan->pid() : -1;
    [[maybe_unused]] const ssize_t written = write(fds[1], &pid, sizeof pid);
    pause();  // until killed, as a test is at its timeout
    _exit(0);
  }
  pid_t orphan = -1;
  ASSERT_EQ(read(fds[0], &orphan, sizeof orphan), static_cast<ssize_t>(sizeof orphan));
  ASSERT_GT(orphan, 0);
  EXPECT_TRUE(Alive(orphan));
  kill(parent, SIGKILL);
  waitpid(parent, nullptr, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (Alive(orphan) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(Alive(orphan));
  if (Alive(orphan))
    kill(orphan, SIGKILL);
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
