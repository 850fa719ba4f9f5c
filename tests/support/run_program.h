// A program run to its end for a test, with a deadline: its output and how it
// ended (no exit code when it was killed, by a signal or at the deadline).
#pragma once

#include <sys/wait.h>

#include <optional>
#include <string>
#include <vector>

#include "process/child_process.h"

namespace vc_test {

struct ProgramRun {
  std::optional<int> exit_code;
  std::string output;
};

inline ProgramRun RunProgram(const std::vector<std::string>& args,
                             const vc_process::StartOptions& options = {.merge_stderr = true,
                                                                        .env = {}},
                             int timeout_ms = 60000) {
  ProgramRun run;
  auto child = vc_process::ChildProcess::Start(args, options, &run.output);
  if (!child)
    return run;
  const std::optional<int> status = child->Wait(timeout_ms, &run.output);
  if (status && WIFEXITED(*status))
    run.exit_code = WEXITSTATUS(*status);
  return run;
}

}  // namespace vc_test
