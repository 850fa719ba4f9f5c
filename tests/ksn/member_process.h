// ksn_test_peer in a child process, reporting by lines on its stdout.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace ksn_test {

class MemberProcess {
 public:
  // Runs the peer with KSN_NATS_URL = `url` and the given arguments.
  MemberProcess(const std::string& url, const std::vector<std::string>& args);
  ~MemberProcess();
  MemberProcess(const MemberProcess&) = delete;
  MemberProcess& operator=(const MemberProcess&) = delete;

  // The first line starting with `prefix` within `timeout_ms`, empty if none.
  std::string WaitLine(const std::string& prefix, int timeout_ms);
  void Kill();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
};

}  // namespace ksn_test
