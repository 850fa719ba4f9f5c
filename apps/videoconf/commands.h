// The subcommands besides call and peer; each returns the program's exit code.
#pragma once

#include <string>

#include "command_line.h"

namespace videoconf_app {

// Lists the cameras: device path (or "(virtual)") and friendly name.
int RunDevices();
// Records the camera into an AVI file for `seconds`.
int RunRecord(const std::string& path, int seconds, const std::string& camera);
// The diagnostic console of every peer on the NATS server: list, get, set.
int RunCtl(const CommandLine& line);

}  // namespace videoconf_app
