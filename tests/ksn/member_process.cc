#include "member_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace ksn_test {

MemberProcess::MemberProcess(const std::string& url, const std::vector<std::string>& args) {
  int fds[2];
  if (pipe(fds) != 0)
    return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    setenv("KSN_NATS_URL", url.c_str(), 1);
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (std::string& arg : copy)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  out_ = fds[0];
}

MemberProcess::~MemberProcess() {
  Kill();
  if (out_ >= 0)
    close(out_);
}

std::string MemberProcess::WaitLine(const std::string& prefix, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    std::size_t end;
    while ((end = pending_.find('\n')) != std::string::npos) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (line.compare(0, prefix.size(), prefix) == 0)
        return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd pfd{out_, POLLIN, 0};
    if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
      return "";
    char chunk[256];
    const ssize_t n = read(out_, chunk, sizeof chunk);
    if (n <= 0)
      return "";
    pending_.append(chunk, static_cast<std::size_t>(n));
  }
}

void MemberProcess::Kill() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
}

}  // namespace ksn_test
