// The library's own log lines, on stderr with a "ksn: " prefix: the host's
// log belongs to the host.
#pragma once

namespace ksn {

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace ksn
