// The host's list of video input devices.
#pragma once

#include <list>
#include <string>
#include <utility>

namespace kalo::video {

// (device path, friendly name) pairs. The host owns the list; the module only
// appends to it. A device without a path is listed as "virtual video camera",
// a device without a friendly name with an empty one.
using DeviceList = std::list<std::pair<std::string, std::string>>;

}  // namespace kalo::video
