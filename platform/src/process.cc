// The running process and thread: the executable's path and thread ids.
#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "plat/kernel.h"
#include "plat/message.h"

namespace plat {

std::string GetExecutablePath() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0)
      return "";
    // readlink truncates silently: a full buffer may be a cut path.
    if (static_cast<std::size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(length));
    }
    if (buffer.size() >= 65536)
      return "";
    buffer.resize(buffer.size() * 2);
  }
}

DWORD GetCurrentThreadId() {
  thread_local const DWORD id = static_cast<DWORD>(gettid());
  return id;
}

}  // namespace plat
