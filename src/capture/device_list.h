// The host's list of video input devices.
#pragma once

#include <list>
#include <string>
#include <utility>

// (device path, friendly name) pairs; the host owns the list and shares these
// standard types with the module across the library boundary.
// TODO(host api): the same type as kalo::video::DeviceList of the public
// header; use that header directly once vc_capture links videoconf_api.
using DeviceList = std::list<std::pair<std::string, std::string>>;
