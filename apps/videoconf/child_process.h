// A program this one starts and must not leave behind: it dies with us
// (PR_SET_PDEATHSIG), its output comes through a pipe, and it is stopped
// and reaped with the object.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace videoconf_app {

class ChildProcess {
 public:
  // Runs `args` (args[0] through PATH) with its stdout (and stderr too, when
  // `merge_stderr`) going into a pipe. Null with `error` set when it cannot start.
  static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& args,
                                             bool merge_stderr, std::string* error);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  // The read end of the output pipe (non-blocking); -1 once it reached its end.
  int output_fd() const { return fd_; }
  // Reads what is waiting; returns the complete lines (without '\n').
  std::vector<std::string> ReadLines();

  // The wait status once it ended (checked without blocking).
  std::optional<int> Poll();
  void Signal(int signal_number);
  // SIGTERM, up to `grace_ms` to end, then SIGKILL; reaps it.
  void Stop(int grace_ms);

 private:
  ChildProcess(pid_t pid, int fd) : pid_(pid), fd_(fd) {}

  pid_t pid_;
  int fd_;
  std::string pending_;
  std::optional<int> status_;
};

// One line describing how a wait status ended: "exited with 3", "was killed (signal 9)".
std::string DescribeExit(int status);

}  // namespace videoconf_app
