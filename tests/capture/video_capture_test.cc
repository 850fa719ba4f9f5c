#include "capture/video_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "capture/capture_messages.h"
#include "capture/device_selection.h"
#include "capture/gst/pattern_camera.h"
#include "capture/sample_record.h"
#include "capture/video_cap_t.h"
#include "capture/virtual_camera.h"
#include "plat/kernel.h"
#include "plat/message.h"
#include "plat/window.h"
#include "support/pump.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace {

using std::chrono::milliseconds;
using Names = std::vector<std::string>;

struct SeenFrame {
  std::int32_t width, height, stride;
  plat::DWORD thread;
  std::uint32_t first_row_pixel;  // leftmost pixel of the first row in memory
  std::uint32_t last_row_pixel;   // leftmost pixel of the last row in memory
};

// Cameras the test plugs in and unplugs, the virtual camera last.
struct Plugged : CameraSystem {
  explicit Plugged(const std::vector<CameraDevice>& devices) : devices(devices) {}
  bool Devices(std::vector<CameraDevice>& found) override {
    found.insert(found.end(), devices.begin(), devices.end());
    found.push_back(MakeVirtualCamera());
    return true;
  }
  const std::vector<CameraDevice>& devices;
};

// A capture object over the devices plugged in.
class Camera : public VideoCapture {
 public:
  explicit Camera(std::vector<CameraDevice> plugged_in = {})
      : VideoCapture(std::make_unique<Plugged>(plugged)), plugged(std::move(plugged_in)) {}
  void OnFrame(const VideoFrame* f) override {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    std::memcpy(&first, f->data, 4);
    std::memcpy(&last, f->data + std::ptrdiff_t{f->height - 1} * f->stride, 4);
    frames.push_back({f->width, f->height, f->stride, plat::GetCurrentThreadId(), first, last});
  }
  void OnCaptureError(const char* text) override { errors.emplace_back(text); }

  std::vector<SeenFrame> frames;
  std::vector<std::string> errors;
  std::vector<CameraDevice> plugged;  // read by the capture object's Plugged
};

// Five seconds unless a case says otherwise.
bool PumpUntil(const std::function<bool()>& done, milliseconds limit = milliseconds(5000)) {
  return vc_test::PumpUntil(done, limit);
}

Capability Cap(MediaSubtype subtype, std::int32_t w, std::int32_t h) {
  return FixedCapability(subtype, w, h);
}

const Names kDirect = {"SOURCE", "format caps", "NULL Render"};
const Names kDecoded = {"SOURCE", "format caps", "mjpg decodec", "color space convert",
                        "NULL Render"};

// The capability order decides the format; the frame size shows which one
// won, since only the chosen subtype is offered at 176x144. No capability
// offers 640x480: each falls back to its own size.
TEST(CaptureGraph, FormatChoiceBuildsTheGraphAndDeliversFramesOfTheChosenSize) {
  struct Case {
    std::vector<Capability> caps;
    Names graph;
    std::int32_t width;
  } cases[] = {
      {{Cap(MediaSubtype::kMJPG, 320, 240), Cap(MediaSubtype::kYUY2, 176, 144)}, kDirect, 176},
      {{Cap(MediaSubtype::kMJPG, 176, 144)}, kDecoded, 176},
      {{Cap(MediaSubtype::kYUY2, 176, 144), Cap(MediaSubtype::kMJPG, 320, 240),
        Cap(MediaSubtype::kRGB24, 320, 240)},
       kDirect,
       176},
  };
  for (const Case& c : cases) {
    Camera camera({MakePatternCamera("/dev/test0", "Test", c.caps)});
    ASSERT_TRUE(camera.Open("/dev/test0", 640, 480, 15));
    EXPECT_EQ(camera.frame_rate(), 15);
    EXPECT_EQ(camera.graph()->ElementNames(), c.graph);
    ASSERT_TRUE(PumpUntil([&] { return camera.frames.size() >= 3; }));
    EXPECT_EQ(camera.frames.back().width, c.width);
    EXPECT_EQ(camera.width(), c.width);
  }
}

// SMPTE bars: the top of the picture is white at the left, the bottom dark
// blue. Bottom-up frames hold the top row last, whatever the source format.
TEST(CaptureGraph, FramesAre32BitBottomUpOnTheOwnerThread) {
  for (MediaSubtype subtype : {MediaSubtype::kYUY2, MediaSubtype::kRGB24, MediaSubtype::kMJPG}) {
    Camera camera({MakePatternCamera("/dev/bars", "Bars", {Cap(subtype, 320, 240)},
                                     PatternSetup{.bars = true})});
    ASSERT_TRUE(camera.Open("/dev/bars", 320, 240, 30));
    ASSERT_TRUE(PumpUntil([&] { return camera.frames.size() >= 3; }));
    const SeenFrame& f = camera.frames.back();
    EXPECT_EQ(std::tuple(f.width, f.height, f.stride), std::tuple(320, 240, 1280));
    EXPECT_EQ(f.thread, plat::GetCurrentThreadId());
    const auto channel = [](std::uint32_t p, int shift) { return int(p >> shift & 0xFF); };
    for (int shift : {0, 8, 16}) {
      EXPECT_GE(channel(f.last_row_pixel, shift), 230) << int(subtype);
    }
    EXPECT_EQ(f.last_row_pixel >> 24, 0xFFu);
    EXPECT_GT(std::abs(channel(f.first_row_pixel, 0) - channel(f.first_row_pixel, 16)), 30)
        << int(subtype);
  }
}

TEST(CaptureGraph, OpenKeepsOrRebuildsTheRunningGraphAndFailureLeavesNone) {
  Camera camera;
  ASSERT_TRUE(camera.Open(kVirtualCameraDriver, 176, 144, 0));
  const CaptureGraph* graph = camera.graph();
  EXPECT_TRUE(camera.Open("/dev/other", 0, 0, 0));  // running: nothing changes
  EXPECT_TRUE(camera.Open("", 176, 144, 0));
  EXPECT_EQ(camera.graph(), graph);
  EXPECT_EQ(camera.driver(), kVirtualCameraDriver);
  EXPECT_TRUE(camera.Open("", 640, 480, 0));
  EXPECT_EQ(camera.width(), 640);
  ASSERT_TRUE(PumpUntil([&] { return !camera.frames.empty(); }));
  EXPECT_TRUE(camera.Stop());
  EXPECT_EQ(camera.renderer(), nullptr);
  EXPECT_TRUE(camera.Open("/dev/nothing", 352, 288, 20));  // the first usable instead

  Camera odd(
      {MakePatternCamera("/dev/odd", "No usable format", {Cap(MediaSubtype::kOther, 8, 8)})});
  EXPECT_FALSE(odd.Open("", 0, 0, 0));
  EXPECT_EQ(odd.graph(), nullptr);
  EXPECT_EQ(odd.renderer(), nullptr);
  EXPECT_FALSE(odd.IsRunning());
}

// Unplugged while running, then plugged in again: reported once, and capture
// comes back by itself on that camera only.
TEST(CaptureGraph, LostCameraIsReportedOnceAndCaptureResumesWhenItIsBack) {
  const std::vector<Capability> caps = {Cap(MediaSubtype::kYUY2, 176, 144)};
  Camera camera({MakePatternCamera("/dev/flaky", "Flaky", caps, {.fail_after_buffers = 5})});
  ASSERT_TRUE(camera.Open("/dev/flaky", 0, 0, 0));
  ASSERT_TRUE(PumpUntil([&] { return !camera.errors.empty(); }));
  EXPECT_TRUE(camera.IsLost() && !camera.IsRunning());
  camera.plugged.clear();
  camera.frames.clear();
  vc_test::PumpFor(milliseconds(3 * VideoCapture::kDeviceWatchMs));
  EXPECT_TRUE(camera.frames.empty());  // the virtual camera is no stand-in
  camera.plugged = {MakePatternCamera("/dev/flaky", "Flaky", caps)};
  ASSERT_TRUE(PumpUntil([&] { return camera.frames.size() >= 3; }));
  EXPECT_EQ(camera.errors, Names{"EC_DEVICE_LOST"});
}

// 30 frames a second into a thread that does not pump must not pile up.
TEST(CaptureGraph, StalledOwnerThreadKeepsFewRecordsAndFramesFlowAfterwards) {
  Camera camera;
  ASSERT_TRUE(camera.Open(kVirtualCameraDriver, 640, 480, 30));
  ASSERT_TRUE(PumpUntil([&] { return !camera.frames.empty(); }));
  std::this_thread::sleep_for(milliseconds(2000));
  EXPECT_LE(camera.renderer()->records_in_flight(), VideoRender::kMaxRecordsInFlight);
  EXPECT_GT(camera.renderer()->dropped(), 40u);
  camera.frames.clear();
  EXPECT_TRUE(PumpUntil([&] { return camera.frames.size() >= 10; }));
}

// ---- Samples the graph cannot make: handed over directly on this thread ----

// Five frames a second into a file of seven, by the graph's stream times: a
// slot no frame was captured in shows the frame before it again.
TEST(SamplePath, ASlowCameraRecordsItsLastFrameIntoTheSlotsItSkipped) {
  vc_test::TempDir dir;
  const std::string clip = (dir.path() / "slow.avi").string();
  Camera camera;
  VideoRender renderer;
  renderer.SetCallback(&camera);
  ASSERT_TRUE(camera.StartRecording(clip, 2));
  std::vector<std::uint8_t> pixels(176 * 144 * 4);
  RawSample raw{.data = pixels.data(), .size = pixels.size()};
  raw.media_type = {true, MediaSubtype::kARGB32, 176, 144, 32};
  for (int n = 0; n < 11; ++n) {
    std::fill(pixels.begin(), pixels.end(), static_cast<std::uint8_t>(n * 20));
    raw.time_start = n * 2000000;  // 200 ms apart, in 100 ns units
    renderer.DoRenderSample(raw);
    vc_test::PumpFor(milliseconds(2));
  }
  const std::string shown =
      vc_test::CommandOutput("ffmpeg -v error -i '" + clip + "' -f rawvideo -pix_fmt gray -");
  std::vector<int> frames;
  for (std::size_t at = 0; at < shown.size(); at += 176 * 144) {
    frames.push_back((static_cast<unsigned char>(shown[at]) + 10) / 20);
  }
  EXPECT_EQ(frames, (std::vector<int>{0, 1, 2, 2, 3, 4, 4, 5, 6, 7, 7, 8, 9, 9}));
}

TEST(SamplePath, DropsSamplesItCannotConvertSafely) {
  Camera camera;
  VideoRender renderer;
  renderer.SetCallback(&camera);
  std::vector<std::uint8_t> pixels(64 * 48 * 4, 0x80);
  RawSample raw;
  raw.data = pixels.data();
  raw.size = pixels.size();
  raw.media_type = {true, MediaSubtype::kYUY2, 64, 48, 16};
  renderer.DoRenderSample(raw);
  ASSERT_EQ(camera.frames.size(), 1u);  // direct, before DoRenderSample returned
  raw.media_type.subtype = MediaSubtype::kRGB32;
  renderer.DoRenderSample(raw);
  raw.media_type = {true, MediaSubtype::kRGB24, 64, 100, 24};  // claims more than it holds
  renderer.DoRenderSample(raw);
  raw.media_type = {true, MediaSubtype::kARGB32, -64, 48, 32};
  renderer.DoRenderSample(raw);
  EXPECT_EQ(camera.frames.size(), 1u);
}

TEST(DeviceSelection, DriverTextPicksTheDeviceElseTheFirstUsable) {
  const std::vector<DeviceEntry> devices = {
      {"/dev/video0", "Broken", false}, {"/dev/video1", "Cam", true}, {"", "Virtual", true}};
  EXPECT_EQ(SelectDevice(devices, "/dev/video1"), 1u);
  EXPECT_EQ(SelectDevice(devices, kVirtualCameraDriver), 2u);
  EXPECT_EQ(SelectDevice(devices, "/dev/video0"), 1u);  // present but unusable
  EXPECT_EQ(SelectDevice({devices[0], devices[1]}, kVirtualCameraDriver), 1u);
  EXPECT_EQ(SelectDevice({devices[0]}, ""), std::nullopt);

  std::vector<ListedDevice> list{{"earlier", ""}};
  EXPECT_TRUE(ListDevices(devices, list));
  EXPECT_FALSE(ListDevices({devices[0]}, list));
  EXPECT_EQ(list, (std::vector<ListedDevice>{
                      {"earlier", ""}, {"/dev/video1", "Cam"}, {kVirtualCameraDriver, "Virtual"}}));
}

struct Owner {
  void OnRecordSecondsLeft(std::int32_t) {}
  bool OnFrame(const VideoFrame*) { return ++frames > 0; }
  void OnCaptureError(const char*) {}
  int frames = 0;
};

TEST(CaptureWindow, BindingForwardsAndDestructionLeavesNoWindowOrQueuedCopy) {
  Owner owner;
  auto capture = std::make_unique<kalo::video::VideoCapT<Owner>>();
  capture->SetManager(&owner);
  ASSERT_TRUE(capture->Open(kVirtualCameraDriver, 176, 144, 30));
  ASSERT_TRUE(PumpUntil([&] { return owner.frames >= 2; }));

  const plat::HWND hwnd = capture->hwnd();
  auto copy = std::make_unique<FrameCopyData>();
  copy->pixels = MakeAlignedBuffer(64);
  ASSERT_TRUE(plat::PostMessage(hwnd, WM_CAPTURE_FRAME, 0, FrameCopyToMessage(std::move(copy))));
  capture.reset();  // running, with a copy queued: ASan sees a leak if it is lost
  EXPECT_FALSE(plat::IsWindow(hwnd));
  EXPECT_EQ(plat::FindWindow(VideoRender::kWindowClassName, nullptr), 0u);
}

}  // namespace
