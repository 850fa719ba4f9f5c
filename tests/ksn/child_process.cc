#include "child_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace ksn_test {

ChildProcess::ChildProcess(const std::vector<std::string>& args, const std::string& nats_url) {
  int fds[2];
  if (pipe(fds) != 0)
    return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    if (!nats_url.empty())
      setenv("KSN_NATS_URL", nats_url.c_str(), 1);
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& arg : copy)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    // Debian puts nats-server in /usr/sbin, which a plain user's PATH may lack.
    execv(("/usr/sbin/" + args[0]).c_str(), argv.data());
    _exit(127);
  }
  close(fds[1]);
  out_ = fds[0];
}

std::string ChildProcess::WaitLine(const std::string& text, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      std::string line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      if (line.find(text) != std::string::npos)
        return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd pfd{out_, POLLIN, 0};
    char chunk[256];
    ssize_t n = 0;
    if (left.count() <= 0 || poll(&pfd, 1, static_cast<int>(left.count())) <= 0 ||
        (n = read(out_, chunk, sizeof chunk)) <= 0)
      return "";
    pending_.append(chunk, static_cast<std::size_t>(n));
  }
}

void ChildProcess::Kill() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  if (out_ >= 0)
    close(out_);
  out_ = -1;
}

}  // namespace ksn_test
