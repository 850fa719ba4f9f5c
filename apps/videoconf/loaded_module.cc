#include "loaded_module.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "plat/kernel.h"

namespace videoconf_app {
namespace {

std::vector<std::string> Candidates() {
  std::vector<std::string> paths;
  if (const char* chosen = std::getenv("VIDEOCONF_MODULE"); chosen != nullptr && *chosen) {
    paths.emplace_back(chosen);
    return paths;
  }
  const std::filesystem::path exe = plat::GetExecutablePath();
  if (!exe.empty()) {
    paths.push_back(
        (exe.parent_path().parent_path() / "lib" / kalo::video::kModuleFileName).string());
  }
  paths.emplace_back(kalo::video::kModuleFileName);
  return paths;
}

}  // namespace

std::unique_ptr<LoadedModule> LoadedModule::Load(std::string* error) {
  std::string last_error = "not found";
  for (const std::string& path : Candidates()) {
    if (path.find('/') != std::string::npos && !std::filesystem::exists(path)) {
      continue;
    }
    // The module brings GLib and GStreamer, which are never safely unloaded
    // (their threads and type registry outlive any manager): keep it mapped.
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle == nullptr) {
      last_error = dlerror();
      continue;
    }
    auto get = reinterpret_cast<kalo::video::GetInstanceFunc>(
        dlsym(handle, kalo::video::kGetInstanceName));
    auto destroy = reinterpret_cast<kalo::video::DestroyInstanceFunc>(
        dlsym(handle, kalo::video::kDestroyInstanceName));
    if (get == nullptr || destroy == nullptr) {
      dlclose(handle);
      *error = path + " is not the VideoConf module (GetInstance or DestroyInstance missing)";
      return nullptr;
    }
    return std::unique_ptr<LoadedModule>(new LoadedModule(handle, get, destroy));
  }
  *error = std::string("cannot load ") + kalo::video::kModuleFileName + " (" + last_error +
           "): set VIDEOCONF_MODULE to its path or add its folder to LD_LIBRARY_PATH";
  return nullptr;
}

kalo::video::IVideoConfManager* LoadedModule::Manager(std::string* error) {
  kalo::video::IVideoConfManager* manager = get_();
  made_ = made_ || manager != nullptr;
  if (manager == nullptr) {
    *error = "the VideoConf module could not start its manager (see logs/video_log.txt)";
  }
  return manager;
}

LoadedModule::~LoadedModule() {
  if (made_) {
    destroy_();
  }
  dlclose(handle_);
}

}  // namespace videoconf_app
