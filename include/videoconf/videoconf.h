// The module's entry points: libvideoconf.so exports exactly these two, with
// C linkage. A host may link the library or load it with dlopen and look the
// entry points up by name.
#pragma once

#include "videoconf/device_list.h"
#include "videoconf/video_conf_manager.h"
#include "videoconf/video_conf_observer.h"

#define VIDEOCONF_EXPORT __attribute__((visibility("default")))

extern "C" {

// The one manager, made on the first call; the same pointer on every later
// call; null when it could not be made (a later call tries again).
VIDEOCONF_EXPORT kalo::video::IVideoConfManager* GetInstance();

// Destroys the manager, if there is one, on the thread that made it.
// Unloading the module with a manager alive does the same.
VIDEOCONF_EXPORT void DestroyInstance();

}  // extern "C"

namespace kalo::video {

// For hosts that load the module at run time.
inline constexpr char kModuleFileName[] = "libvideoconf.so";
inline constexpr char kGetInstanceName[] = "GetInstance";
inline constexpr char kDestroyInstanceName[] = "DestroyInstance";
using GetInstanceFunc = IVideoConfManager* (*)();
using DestroyInstanceFunc = void (*)();

}  // namespace kalo::video
