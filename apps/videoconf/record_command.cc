#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "camera_choice.h"
#include "commands.h"
#include "loaded_module.h"
#include "queue_pump.h"

namespace videoconf_app {
namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "videoconf record: %s\n", message.c_str());
  return 2;
}

}  // namespace

int RunRecord(const std::string& path, int seconds, const std::string& camera) {
  if (std::filesystem::path(path).extension() != ".avi") {
    return Fail("the recording must be an .avi file, not '" + path + "'");
  }
  {
    // The module only says whether it started; find an unwritable path here.
    std::ofstream probe(path, std::ios::binary | std::ios::trunc);
    if (!probe) {
      return Fail("cannot write '" + path + "': check the folder exists and is writable");
    }
  }
  std::string error;
  std::unique_ptr<LoadedModule> module = LoadedModule::Load(&error);
  kalo::video::IVideoConfManager* manager = module ? module->Manager(&error) : nullptr;
  std::string device;
  if (manager == nullptr || !ChooseCamera(*manager, camera, &device, &error) ||
      !OpenCamera(*manager, device, true, &error)) {
    return Fail(error);
  }
  if (!manager->RecordToAVIFile(path, std::to_string(seconds))) {
    manager->CloseVideo();
    return Fail("the module refused to record to '" + path + "'");
  }
  // The writer stops by itself after `seconds`; a little more lets the last
  // frames through.
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(seconds * 1000 + 500);
  while (std::chrono::steady_clock::now() < until && !StopRequested()) {
    PumpQueue(50);
  }
  manager->CloseVideo();
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec || size == 0) {
    return Fail("nothing was recorded into '" + path + "' (see logs/video_log.txt)");
  }
  std::printf("recorded %s (%llu bytes)\n", path.c_str(), static_cast<unsigned long long>(size));
  return 0;
}

}  // namespace videoconf_app
