#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "camera_choice.h"
#include "commands.h"
#include "loaded_module.h"
#include "queue_pump.h"

namespace videoconf_app {
namespace {

// The file plays at 7 frames a second, each frame a seventh of a second of capture.
constexpr int kFramesPerSecond = 7;
// Exit code of a recording that holds less than was asked.
constexpr int kRecordedShort = 3;

int Fail(const std::string& message) {
  std::fprintf(stderr, "videoconf record: %s\n", message.c_str());
  return 2;
}

// The frames an AVI file's main header counts (dwTotalFrames, at byte 48).
// The module rewrites it after every whole second, so it grows while the
// file is written; 0 for a file without one.
int FramesInFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char bytes[52] = {};
  if (!in.read(reinterpret_cast<char*>(bytes), sizeof bytes) ||
      std::string(reinterpret_cast<char*>(bytes), 4) != "RIFF") {
    return 0;
  }
  const std::uint32_t frames =
      bytes[48] | bytes[49] << 8 | bytes[50] << 16 | static_cast<std::uint32_t>(bytes[51]) << 24;
  return frames > 1u << 30 ? 0 : static_cast<int>(frames);
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
  // Frames are taken by capture time: the file is whole after `seconds` of
  // capture. A failed write, or a lost camera, ends it earlier; a file that
  // has stopped growing for a second has ended.
  using Clock = std::chrono::steady_clock;
  const int wanted = seconds > 0 ? seconds * kFramesPerSecond : 1;
  const auto until = Clock::now() + std::chrono::milliseconds(seconds * 1000 + 3000);
  std::uintmax_t last_size = 0;
  auto last_growth = Clock::now();
  bool lost = false;
  while (Clock::now() < until && !StopRequested() && FramesInFile(path) < wanted) {
    std::error_code ignored;
    const std::uintmax_t size = std::filesystem::file_size(path, ignored);
    if (size != last_size) {
      last_size = size;
      last_growth = Clock::now();
    } else if (size > 0 && Clock::now() - last_growth > std::chrono::seconds(1)) {
      break;
    }
    PumpQueue(50);
    if (!manager->IsVideoOpened()) {
      std::printf("videoconf record: camera lost\n");
      std::fflush(stdout);
      lost = true;
      break;
    }
  }
  manager->CloseVideo();
  const int frames = FramesInFile(path);
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (frames < wanted) {
    std::fprintf(stderr,
                 "videoconf record: the recording ended early%s: '%s' holds %.1f s (%d frames) of "
                 "the %d s asked (see logs/video_log.txt)\n",
                 lost ? " (camera lost)" : "", path.c_str(),
                 static_cast<double>(frames) / kFramesPerSecond, frames, seconds);
    return kRecordedShort;
  }
  std::printf("recorded %s: %d s, %d frames (%llu bytes)\n", path.c_str(), seconds, frames,
              static_cast<unsigned long long>(ec ? 0 : size));
  return 0;
}

}  // namespace videoconf_app
