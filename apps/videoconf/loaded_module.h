// libvideoconf.so loaded at run time, as a messaging client loads it: only
// its two exports are looked up, and the manager is driven through
// IVideoConfManager.
#pragma once

#include <memory>
#include <string>

#include "videoconf/videoconf.h"

namespace videoconf_app {

class LoadedModule {
 public:
  // Looks for the module in VIDEOCONF_MODULE (a file), then beside this
  // program's lib folder (../lib), then through the loader's search path.
  // Null with `error` set, one line a person can act on, when it fails.
  static std::unique_ptr<LoadedModule> Load(std::string* error);
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  // The one manager; null with `error` set when the module could not make it.
  kalo::video::IVideoConfManager* Manager(std::string* error);

 private:
  LoadedModule(void* handle, kalo::video::GetInstanceFunc get,
               kalo::video::DestroyInstanceFunc destroy)
      : handle_(handle), get_(get), destroy_(destroy) {}

  void* handle_;
  kalo::video::GetInstanceFunc get_;
  kalo::video::DestroyInstanceFunc destroy_;
  bool made_ = false;
};

}  // namespace videoconf_app
