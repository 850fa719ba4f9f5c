// Runs a shell command as a person would type it, for tests that drive
// programs (ffprobe, ffmpeg, the host program) and read what they print,
// through the shared launcher: killed at its deadline, and with the test.
#pragma once

#include <string>

#include "process/child_process.h"

namespace vc_test {

// Appends the command's standard output to `out`; its exit status, -1 when
// it did not exit by itself within `timeout_ms` or could not start.
inline int RunCommand(const std::string& command, std::string* out, int timeout_ms = 120000) {
  vc_process::ProgramRun run = vc_process::RunProgram({"sh", "-c", command}, {}, timeout_ms);
  out->append(run.output);
  return run.exit_code.value_or(-1);
}

// The command's standard output alone.
inline std::string CommandOutput(const std::string& command) {
  std::string out;
  RunCommand(command, &out);
  return out;
}

}  // namespace vc_test
