// Picking and opening the camera through the manager.
#pragma once

#include <string>

#include "videoconf/video_conf_manager.h"

namespace videoconf_app {

// The device path of `wanted` (a device path or a friendly name), or of the
// virtual camera ("virtual video camera") when `wanted` is empty. False with `error` set when no
// such device is listed.
bool ChooseCamera(kalo::video::IVideoConfManager& manager, const std::string& wanted,
                  std::string* path, std::string* error);

// Opens `path` in super (352x288 at 15) or normal (176x144 at 20) mode.
bool OpenCamera(kalo::video::IVideoConfManager& manager, const std::string& path, bool super,
                std::string* error);

}  // namespace videoconf_app
