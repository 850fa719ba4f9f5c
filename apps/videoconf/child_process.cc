#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace videoconf_app {

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& args,
                                                  bool merge_stderr, std::string* error) {
  int fds[2];
  if (args.empty() || pipe2(fds, O_CLOEXEC) != 0) {
    *error = "cannot start a process: " + std::string(std::strerror(errno));
    return nullptr;
  }
  // The child reports a failed exec through this second pipe.
  int exec_fds[2];
  if (pipe2(exec_fds, O_CLOEXEC) != 0) {
    close(fds[0]);
    close(fds[1]);
    *error = "cannot start a process: " + std::string(std::strerror(errno));
    return nullptr;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) {
      _exit(127);
    }
    dup2(fds[1], STDOUT_FILENO);
    if (merge_stderr) {
      dup2(fds[1], STDERR_FILENO);
    }
    std::vector<char*> argv;
    for (const std::string& arg : args) {
      argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    const int code = errno;
    [[maybe_unused]] const ssize_t ignored = write(exec_fds[1], &code, sizeof code);
    _exit(127);
  }
  close(fds[1]);
  close(exec_fds[1]);
  int code = 0;
  const bool exec_failed = pid > 0 && read(exec_fds[0], &code, sizeof code) == sizeof code;
  close(exec_fds[0]);
  if (pid < 0 || exec_failed) {
    close(fds[0]);
    if (pid > 0) {
      waitpid(pid, nullptr, 0);
    }
    *error = "cannot run " + args[0] + ": " + std::strerror(pid < 0 ? errno : code);
    return nullptr;
  }
  fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  return std::unique_ptr<ChildProcess>(new ChildProcess(pid, fds[0]));
}

ChildProcess::~ChildProcess() {
  Stop(2000);
  if (fd_ >= 0) {
    close(fd_);
  }
}

std::vector<std::string> ChildProcess::ReadLines() {
  std::vector<std::string> lines;
  char chunk[4096];
  ssize_t n = 0;
  while (fd_ >= 0 && (n = read(fd_, chunk, sizeof chunk)) > 0) {
    pending_.append(chunk, static_cast<std::size_t>(n));
  }
  if (fd_ >= 0 && n == 0) {
    close(fd_);
    fd_ = -1;
  }
  std::size_t newline = 0;
  while ((newline = pending_.find('\n')) != std::string::npos) {
    lines.push_back(pending_.substr(0, newline));
    pending_.erase(0, newline + 1);
  }
  if (fd_ < 0 && !pending_.empty()) {
    lines.push_back(pending_);
    pending_.clear();
  }
  return lines;
}

std::optional<int> ChildProcess::Poll() {
  int status = 0;
  if (!status_ && waitpid(pid_, &status, WNOHANG) == pid_) {
    status_ = status;
  }
  return status_;
}

void ChildProcess::Signal(int signal_number) {
  if (!Poll()) {
    kill(pid_, signal_number);
  }
}

void ChildProcess::Stop(int grace_ms) {
  if (Poll()) {
    return;
  }
  kill(pid_, SIGTERM);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(grace_ms);
  while (!Poll() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!Poll()) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    status_ = status;
  }
}

std::string DescribeExit(int status) {
  if (WIFSIGNALED(status)) {
    return "was killed (signal " + std::to_string(WTERMSIG(status)) + ")";
  }
  return "exited with " + std::to_string(WEXITSTATUS(status));
}

}  // namespace videoconf_app
