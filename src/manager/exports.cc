// The module's two entry points and its one manager.
#include <memory>
#include <new>

#include "manager/video_conf_manager.h"
#include "videoconf/videoconf.h"

namespace {

using kalo::video::VideoConfManager;

// Made on the first GetInstance, so it is destroyed before anything the module
// built at load time (the debug log among them): a manager the host left alive
// is torn down, in its usual order, when the module is unloaded.
std::unique_ptr<VideoConfManager>& Instance() {
  static std::unique_ptr<VideoConfManager> instance;
  return instance;
}

}  // namespace

extern "C" VIDEOCONF_EXPORT kalo::video::IVideoConfManager* GetInstance() {
  std::unique_ptr<VideoConfManager>& instance = Instance();
  if (!instance) {
    try {
      instance.reset(new (std::nothrow) VideoConfManager());
    } catch (...) {
      // Never throw to the host: no manager this time, the next call tries again.
    }
  }
  return instance.get();
}

extern "C" VIDEOCONF_EXPORT void DestroyInstance() {
  Instance().reset();
}
