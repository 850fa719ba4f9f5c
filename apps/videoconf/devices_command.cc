#include <cstdio>

#include "commands.h"
#include "loaded_module.h"

namespace videoconf_app {

int RunDevices() {
  std::string error;
  std::unique_ptr<LoadedModule> module = LoadedModule::Load(&error);
  kalo::video::IVideoConfManager* manager = module ? module->Manager(&error) : nullptr;
  kalo::video::DeviceList devices;
  if (manager == nullptr || !manager->GetVideoCameraDrivers(devices)) {
    std::fprintf(stderr, "videoconf devices: %s\n",
                 error.empty() ? "the module could not list the cameras" : error.c_str());
    return 2;
  }
  for (const auto& [path, name] : devices) {
    std::printf("%-24s %s\n", path.c_str(), name.c_str());
  }
  return 0;
}

}  // namespace videoconf_app
