// A camera made of moving test pictures: the built-in virtual camera, and
// any device a test describes by its capability list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/camera_system.h"

struct PatternSetup {
  // SMPTE colour bars standing still instead of a moving ball: a picture
  // whose top and bottom differ.
  bool bars = false;
  // >= 0: the source fails while running after that many pictures, as an
  // unplugged camera does.
  std::int32_t fail_after_buffers = -1;
};

// A device with this path (empty: none), name and capability list.
CameraDevice MakePatternCamera(std::string path, std::string name, std::vector<Capability> caps,
                               PatternSetup setup = {});

// Set in a process's environment to a number N, its virtual camera fails
// like an unplugged camera after N pictures of every graph: how a host sees
// a lost camera, tried without one.
inline constexpr char kVirtualCameraFailAfterVariable[] = "VC_VIRTUAL_CAMERA_FAIL_AFTER";

// The built-in "virtual video camera".
CameraDevice MakeVirtualCamera();
