#include "common/thread_checker.h"

#include <cstdio>
#include <cstdlib>

namespace COMM::internal {

void ThreadCheckFailed(const char* file, int line) {
  std::fprintf(stderr, "%s:%d: called off its owner thread\n", file, line);
  std::abort();
}

}  // namespace COMM::internal
