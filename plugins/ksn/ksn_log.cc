#include "ksn_log.h"

#include <cstdarg>
#include <cstdio>

namespace ksn {

void Log(const char* format, ...) {
  char line[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  std::fprintf(stderr, "ksn: %s\n", line);
}

}  // namespace ksn
