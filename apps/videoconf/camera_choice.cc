#include "camera_choice.h"

namespace videoconf_app {

bool ChooseCamera(kalo::video::IVideoConfManager& manager, const std::string& wanted,
                  std::string* path, std::string* error) {
  // The virtual camera is listed under its driver text, as a path.
  const std::string chosen = wanted.empty() ? "virtual video camera" : wanted;
  kalo::video::DeviceList devices;
  manager.GetVideoCameraDrivers(devices);
  for (const auto& [device_path, name] : devices) {
    if (chosen == device_path || chosen == name) {
      *path = device_path;
      return true;
    }
  }
  *error = "no camera '" + chosen + "': pick a path or name that 'videoconf devices' lists";
  return false;
}

bool OpenCamera(kalo::video::IVideoConfManager& manager, const std::string& path, bool super,
                std::string* error) {
  manager.SetVideoCameraDriver(path);
  const bool opened = super ? manager.SetToSuperVideo() : manager.SetToNormalVideo();
  if (!opened || !manager.IsVideoOpened()) {
    *error = "the camera '" + path + "' could not be opened at " +
             (super ? "352x288, 15" : "176x144, 20") +
             " frames a second: check it is free, or pick another with --camera";
    return false;
  }
  return true;
}

}  // namespace videoconf_app
