// Loads the installed module as a messaging client would and asks it for a
// conference id and its cameras.
#include <dlfcn.h>

#include <cstdio>

#include "videoconf/videoconf.h"

int main() {
  void* module = dlopen(VIDEOCONF_MODULE, RTLD_NOW);
  if (module == nullptr) {
    std::printf("dlopen: %s\n", dlerror());
    return 1;
  }
  auto get =
      reinterpret_cast<kalo::video::GetInstanceFunc>(dlsym(module, kalo::video::kGetInstanceName));
  auto destroy = reinterpret_cast<kalo::video::DestroyInstanceFunc>(
      dlsym(module, kalo::video::kDestroyInstanceName));
  kalo::video::IVideoConfManager* manager = get != nullptr ? get() : nullptr;
  if (manager == nullptr || destroy == nullptr)
    return 1;
  std::string cid;
  manager->CreateCid(cid);
  kalo::video::DeviceList devices;
  manager->GetVideoCameraDrivers(devices);
  std::printf("cid %s, %zu camera(s)\n", cid.c_str(), devices.size());
  destroy();
  dlclose(module);
  return cid.size() == 36 && !devices.empty() ? 0 : 1;
}
