// Loading shared libraries at run time: the calls of plat/module.h, and the
// process's own module handle.
#include "plat/module.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <map>
#include <mutex>
#include <set>

#include "no_destructor.h"
#include "plat/kernel.h"
#include "plat/window.h"

namespace plat {
namespace {

// The handles given out: by LoadLibrary (with how often) and by
// GetModuleHandle, so that dlsym and dlclose never see a handle dlopen did
// not make.
class LoadedModules {
 public:
  void Add(void* handle) {
    std::lock_guard lock(mutex_);
    ++loads_[handle];
  }
  bool Remove(void* handle) {
    std::lock_guard lock(mutex_);
    const auto it = loads_.find(handle);
    if (it == loads_.end())
      return false;
    if (--it->second == 0)
      loads_.erase(it);
    return true;
  }
  void AddLookedUp(void* handle) {
    std::lock_guard lock(mutex_);
    looked_up_.insert(handle);
  }
  bool Knows(void* handle) {
    std::lock_guard lock(mutex_);
    return loads_.count(handle) != 0 || looked_up_.count(handle) != 0;
  }

 private:
  std::mutex mutex_;
  std::map<void*, std::size_t> loads_;
  std::set<void*> looked_up_;
};

LoadedModules& Loaded() {
  static internal::NoDestructor<LoadedModules> loaded;
  return *loaded;
}

thread_local std::string last_load_error;

HMODULE Open(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = dlerror();
    last_load_error = why != nullptr ? why : "dlopen failed";
    return nullptr;
  }
  last_load_error.clear();
  Loaded().Add(handle);
  return handle;
}

std::string CurrentDirectory() {
  char buffer[PATH_MAX];
  return getcwd(buffer, sizeof(buffer)) != nullptr ? buffer : "";
}

}  // namespace

std::string ImageDirectoryOf(const void* address) {
  Dl_info info{};
  link_map* map = nullptr;
  if (address == nullptr ||
      dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
    return "";
  }
  std::string path;
  if (map != nullptr && map->l_name != nullptr && map->l_name[0] == '\0') {
    // The main program's link map has no name; dladdr would give argv[0].
    path = GetExecutablePath();
  } else if (info.dli_fname != nullptr) {
    path = info.dli_fname;
  }
  const auto slash = path.rfind('/');
  // A name without a directory (the vDSO) tells nothing.
  if (slash == std::string::npos)
    return "";
  if (path[0] != '/')
    path = CurrentDirectory() + "/" + path;
  std::string dir = path.substr(0, path.rfind('/'));
  return dir.empty() ? "/" : dir;
}

HMODULE LoadLibraryBeside(const char* file_name, const void* address) {
  if (file_name == nullptr || *file_name == '\0') {
    last_load_error = "no file name";
    return nullptr;
  }
  const std::string name = file_name;
  if (name.find('/') != std::string::npos)
    return Open(name);
  // As on Windows, the first file found is the one loaded, even if it fails.
  const std::string dir = ImageDirectoryOf(address);
  if (!dir.empty()) {
    const std::string beside = dir.back() == '/' ? dir + name : dir + "/" + name;
    if (access(beside.c_str(), F_OK) == 0)
      return Open(beside);
  }
  return Open(name);
}

// Not inlined, so that the return address is the caller's.
__attribute__((noinline)) HMODULE LoadLibrary(const char* file_name) {
  return LoadLibraryBeside(file_name, __builtin_extract_return_addr(__builtin_return_address(0)));
}

void* GetProcAddress(HMODULE module, const char* name) {
  if (module == nullptr || name == nullptr || !Loaded().Knows(module))
    return nullptr;
  return dlsym(module, name);
}

bool FreeLibrary(HMODULE module) {
  if (module == nullptr || !Loaded().Remove(module))
    return false;
  return dlclose(module) == 0;
}

std::string LoadLibraryError() {
  return last_load_error;
}

HINSTANCE GetModuleHandle(const char* module_name) {
  void* handle = nullptr;
  if (module_name == nullptr) {
    static void* const self = dlopen(nullptr, RTLD_NOW);
    handle = self;
  } else {
    // Only a library already loaded; no reference is kept, as on Windows.
    handle = dlopen(module_name, RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr)
      dlclose(handle);
  }
  if (handle != nullptr)
    Loaded().AddLookedUp(handle);
  return handle;
}

}  // namespace plat
