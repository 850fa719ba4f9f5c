// A nats-server of the call's own on a free loopback port.
#pragma once

#include <memory>
#include <string>

#include "child_process.h"

namespace videoconf_app {

struct PrivateNatsServer {
  std::unique_ptr<ChildProcess> process;
  std::string url;
};

// Null process with `error` set when nats-server is missing or does not come
// up within 10 s.
PrivateNatsServer StartPrivateNatsServer(std::string* error);

}  // namespace videoconf_app
