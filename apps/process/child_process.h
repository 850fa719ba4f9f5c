// A program this one starts and must not leave behind: it gets SIGTERM when
// the thread that started it ends (PR_SET_PDEATHSIG, so a test killed by its
// timeout takes its servers with it), its output comes through a pipe, and it
// is stopped and reaped with the object. Every wait has a deadline.
#pragma once

#include <sys/types.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vc_process {

struct StartOptions {
  // stderr into the same pipe as stdout; otherwise it stays ours.
  bool merge_stderr = false;
  // Set in the child's environment, name and value.
  std::vector<std::pair<std::string, std::string>> env;
};

class ChildProcess {
 public:
  // Runs `args` (args[0] through PATH, then /usr/sbin, where Debian puts
  // nats-server). Null with `error` set when it cannot start.
  static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& args,
                                             const StartOptions& options, std::string* error);
  // Started at once, with KSN_NATS_URL set to `nats_url` when it is not
  // empty; running() says whether it did start.
  explicit ChildProcess(const std::vector<std::string>& args, const std::string& nats_url = "");
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool running() { return pid_ > 0 && !Poll(); }
  pid_t pid() const { return pid_; }
  // The read end of the output pipe (non-blocking); -1 once it reached its end.
  int output_fd() const { return fd_; }

  // Reads what is waiting; returns the complete lines (without '\n'), and
  // the last partial one once the pipe has ended.
  std::vector<std::string> ReadLines();
  // The next line holding `text` within `timeout_ms` (lines before it are
  // dropped); empty when none came.
  std::string WaitLine(const std::string& text, int timeout_ms);
  // Up to `timeout_ms` for the process to end, reading its output meanwhile
  // (appended to `output` when given). The wait status, or none when it
  // still runs.
  std::optional<int> Wait(int timeout_ms, std::string* output = nullptr);

  // The wait status once it ended (checked without blocking).
  std::optional<int> Poll();
  void Signal(int signal_number);
  // SIGTERM, up to `grace_ms` to end, then SIGKILL; reaps it.
  void Stop(int grace_ms);
  // SIGKILL at once, as a crash would; reaps it.
  void Kill() { Stop(0); }

 private:
  ChildProcess() = default;
  bool Launch(const std::vector<std::string>& args, const StartOptions& options,
              std::string* error);
  // Up to `timeout_ms` for output; false when none came or the pipe ended.
  bool ReadMore(int timeout_ms);

  pid_t pid_ = -1;
  int fd_ = -1;
  std::string pending_;
  std::optional<int> status_;
};

// A program run to its end within `timeout_ms` (killed at the deadline): its
// output, and its exit code when it exited by itself.
struct ProgramRun {
  std::optional<int> exit_code;
  std::string output;
};
ProgramRun RunProgram(const std::vector<std::string>& args, const StartOptions& options,
                      int timeout_ms);

// One line describing how a wait status ended: "exited with 3", "was killed (signal 9)".
std::string DescribeExit(int status);

}  // namespace vc_process
