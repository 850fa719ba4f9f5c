// Runs a shell command as a person would type it, for tests that drive
// programs (ffprobe, ffmpeg, the host program) and read what they print.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace vc_test {

// Appends the command's standard output to `out`; its exit status, -1 when
// it did not exit (killed by a signal) or could not start.
inline int RunCommand(const std::string& command, std::string* out) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr)
    return -1;
  static char buffer[65536];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out->append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The command's standard output alone.
inline std::string CommandOutput(const std::string& command) {
  std::string out;
  RunCommand(command, &out);
  return out;
}

}  // namespace vc_test
