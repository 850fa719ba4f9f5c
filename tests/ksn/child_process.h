// A program run as a child process, read line by line from its stdout, and
// killed with the object.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ksn_test {

class ChildProcess {
 public:
  // args[0] is looked up in PATH, then in /usr/sbin. KSN_NATS_URL is set to
  // `nats_url` in the child when it is not empty.
  ChildProcess(const std::vector<std::string>& args, const std::string& nats_url = "");
  ~ChildProcess() { Kill(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line holding `text` within `timeout_ms`, empty if none.
  std::string WaitLine(const std::string& text, int timeout_ms);
  void Kill();
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
};

}  // namespace ksn_test
