#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace vc_process {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Our environment with `overrides` in place: built before the fork, since
// the child of a threaded process may not allocate.
std::vector<std::string> ChildEnvironment(
    const std::vector<std::pair<std::string, std::string>>& overrides) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool replaced = false;
    for (const auto& [name, value] : overrides)
      replaced = replaced || text.compare(0, name.size() + 1, name + "=") == 0;
    if (!replaced)
      env.push_back(text);
  }
  for (const auto& [name, value] : overrides)
    env.push_back(name + "=" + value);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& args,
                                                  const StartOptions& options, std::string* error) {
  std::unique_ptr<ChildProcess> child(new ChildProcess());
  if (!child->Launch(args, options, error))
    return nullptr;
  return child;
}

ChildProcess::ChildProcess(const std::vector<std::string>& args, const std::string& nats_url) {
  StartOptions options;
  if (!nats_url.empty())
    options.env.emplace_back("KSN_NATS_URL", nats_url);
  std::string error;
  Launch(args, options, &error);
}

bool ChildProcess::Launch(const std::vector<std::string>& args, const StartOptions& options,
                          std::string* error) {
  int fds[2];
  // The child reports a failed exec through the second pipe.
  int exec_fds[2];
  if (args.empty() || pipe2(fds, O_CLOEXEC) != 0) {
    *error = "cannot start a process: " + std::string(std::strerror(errno));
    return false;
  }
  if (pipe2(exec_fds, O_CLOEXEC) != 0) {
    close(fds[0]);
    close(fds[1]);
    *error = "cannot start a process: " + std::string(std::strerror(errno));
    return false;
  }
  std::vector<std::string> arg_texts = args;
  std::vector<std::string> env_texts = ChildEnvironment(options.env);
  const std::string sbin_path = "/usr/sbin/" + args[0];
  std::vector<char*> argv = Pointers(arg_texts);
  std::vector<char*> envp = Pointers(env_texts);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent)
      _exit(127);  // the parent died before the signal was armed
    dup2(fds[1], STDOUT_FILENO);
    if (options.merge_stderr)
      dup2(fds[1], STDERR_FILENO);
    execvpe(argv[0], argv.data(), envp.data());
    int code = errno;
    if (code == ENOENT && args[0].find('/') == std::string::npos) {
      execve(sbin_path.c_str(), argv.data(), envp.data());
      code = errno == ENOENT ? code : errno;
    }
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
    if (pid > 0)
      waitpid(pid, nullptr, 0);
    *error = "cannot run " + args[0] + ": " + std::strerror(pid < 0 ? errno : code);
    return false;
  }
  fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
  pid_ = pid;
  fd_ = fds[0];
  return true;
}

ChildProcess::~ChildProcess() {
  Stop(2000);
  if (fd_ >= 0)
    close(fd_);
}

bool ChildProcess::ReadMore(int timeout_ms) {
  if (fd_ < 0)
    return false;
  pollfd fd{fd_, POLLIN, 0};
  if (poll(&fd, 1, timeout_ms) <= 0)
    return false;
  char chunk[4096];
  ssize_t n = 0;
  bool got = false;
  while ((n = read(fd_, chunk, sizeof chunk)) > 0) {
    pending_.append(chunk, static_cast<std::size_t>(n));
    got = true;
  }
  if (n == 0) {
    close(fd_);
    fd_ = -1;
  }
  return got;
}

std::vector<std::string> ChildProcess::ReadLines() {
  while (ReadMore(0)) {
  }
  std::vector<std::string> lines;
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

std::string ChildProcess::WaitLine(const std::string& text, int timeout_ms) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (line.find(text) != std::string::npos)
        return line;
    }
    if (fd_ < 0 || Clock::now() >= deadline)
      return "";
    ReadMore(MillisecondsLeft(deadline));
  }
}

std::optional<int> ChildProcess::Wait(int timeout_ms, std::string* output) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!Poll() && Clock::now() < deadline) {
    if (fd_ >= 0)
      ReadMore(std::min(MillisecondsLeft(deadline), 50));
    else
      poll(nullptr, 0, std::min(MillisecondsLeft(deadline), 10));
  }
  while (ReadMore(0)) {
  }
  if (output != nullptr) {
    output->append(pending_);
    pending_.clear();
  }
  return status_;
}

std::optional<int> ChildProcess::Poll() {
  int status = 0;
  if (!status_ && pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_)
    status_ = status;
  return status_;
}

void ChildProcess::Signal(int signal_number) {
  if (pid_ > 0 && !Poll())
    kill(pid_, signal_number);
}

void ChildProcess::Stop(int grace_ms) {
  if (pid_ <= 0 || Poll())
    return;
  if (grace_ms > 0) {
    kill(pid_, SIGTERM);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(grace_ms);
    while (!Poll() && Clock::now() < deadline)
      poll(nullptr, 0, 10);
  }
  if (!Poll()) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);  // SIGKILL cannot be held off: this returns
    status_ = status;
  }
}

ProgramRun RunProgram(const std::vector<std::string>& args, const StartOptions& options,
                      int timeout_ms) {
  ProgramRun run;
  std::unique_ptr<ChildProcess> child = ChildProcess::Start(args, options, &run.output);
  const std::optional<int> status = child ? child->Wait(timeout_ms, &run.output) : std::nullopt;
  if (status && WIFEXITED(*status))
    run.exit_code = WEXITSTATUS(*status);
  return run;
}

std::string DescribeExit(int status) {
  if (WIFSIGNALED(status))
    return "was killed (signal " + std::to_string(WTERMSIG(status)) + ")";
  return "exited with " + std::to_string(WEXITSTATUS(status));
}

}  // namespace vc_process
