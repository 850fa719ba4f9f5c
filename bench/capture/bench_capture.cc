// The camera's cost: the sample path per frame (the renderer's record copy
// and the conversion to 32-bit pixels) beside the conversion alone, and the
// CPU a 15-frame capture of the virtual camera takes beside gst-launch-1.0
// doing the same work (test pictures, YUY2 to BGRA, discarded).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "allocation_counter.h"
#include "capture/device_selection.h"
#include "capture/gst/gst_camera_system.h"
#include "capture/video_capture.h"
#include "capture/video_render.h"
#include "plat/message.h"

namespace {

std::vector<std::uint8_t> Yuy2Picture(int width, int height) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 2);
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    pixels[i] = static_cast<std::uint8_t>(i * 7 + i / 613);
  }
  return pixels;
}

std::unique_ptr<VideoCapture> QuietCapture() {
  return std::make_unique<VideoCapture>(std::make_unique<GstCameraSystem>(
      GstCameraSystemSetup{.monitor_devices = false, .virtual_camera = true}));
}

// On the owner thread the renderer calls back at once: record copy,
// conversion, frame to the (empty) owner hook; the heap allocations it makes
// per frame counted beside.
void BM_SamplePath(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const std::vector<std::uint8_t> pixels = Yuy2Picture(width, height);
  auto capture = QuietCapture();
  VideoRender renderer;
  renderer.SetCallback(capture.get());
  RawSample raw;
  raw.data = pixels.data();
  raw.size = pixels.size();
  raw.media_type = {true, MediaSubtype::kYUY2, width, height, 16};
  raw.rows = height;
  raw.row_bytes = width * 2;
  raw.stride = width * 2;
  renderer.DoRenderSample(raw);  // buffers made once, at the first frame
  const std::uint64_t before = bench::HeapAllocations();
  for (auto _ : state) {
    renderer.DoRenderSample(raw);
  }
  state.counters["allocs_per_frame"] = static_cast<double>(bench::HeapAllocations() - before) /
                                       static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SamplePath)->Args({352, 288})->Args({640, 480});

void BM_ConversionAlone(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const std::vector<std::uint8_t> pixels = Yuy2Picture(width, height);
  std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * height * 4);
  PixelConverter converter;
  VideoFrame frame;
  frame.data = out.data();
  frame.width = width;
  frame.height = height;
  frame.stride = width * 4;
  for (auto _ : state) {
    converter.Yuy2ToRgb32(pixels.data(), frame);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConversionAlone)->Args({352, 288})->Args({640, 480});

double CpuSeconds(const rusage& usage) {
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

constexpr int kCaptureSeconds = 5;

class FrameCounter : public VideoCapture {
 public:
  using VideoCapture::VideoCapture;
  void OnFrame(const VideoFrame*) override { ++frames; }
  int frames = 0;
};

// CPU seconds per second of capture, the frames seen alongside.
void BM_VirtualCamera15fps(benchmark::State& state) {
  for (auto _ : state) {
    FrameCounter capture(std::make_unique<GstCameraSystem>(
        GstCameraSystemSetup{.monitor_devices = false, .virtual_camera = true}));
    if (!capture.Open(kVirtualCameraDriver, 352, 288, 15)) {
      state.SkipWithError("the virtual camera does not open");
      return;
    }
    rusage before;
    getrusage(RUSAGE_SELF, &before);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kCaptureSeconds);
    while (std::chrono::steady_clock::now() < end) {
      plat::MSG msg;
      while (plat::PeekMessage(&msg, 0, 0, 0, plat::PM_REMOVE)) {
        plat::DispatchMessage(&msg);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    rusage after;
    getrusage(RUSAGE_SELF, &after);
    capture.Stop();
    state.counters["cpu_per_s"] = (CpuSeconds(after) - CpuSeconds(before)) / kCaptureSeconds;
    state.counters["frames_per_s"] = static_cast<double>(capture.frames) / kCaptureSeconds;
  }
}
BENCHMARK(BM_VirtualCamera15fps)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// The same pictures through gst-launch-1.0, in a child process of its own.
void BM_GstLaunch15fps(benchmark::State& state) {
  for (auto _ : state) {
    const std::string buffers = "num-buffers=" + std::to_string(15 * kCaptureSeconds);
    const pid_t child = fork();
    if (child == 0) {
      execlp("gst-launch-1.0", "gst-launch-1.0", "-q", "videotestsrc", "is-live=true",
             "pattern=ball", buffers.c_str(), "!",
             "video/x-raw,format=YUY2,width=352,height=288,framerate=15/1", "!", "videoconvert",
             "!", "video/x-raw,format=BGRA", "!", "fakesink", nullptr);
      _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) < 0 || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
      state.SkipWithError("gst-launch-1.0 failed");
      return;
    }
    state.counters["cpu_per_s"] = CpuSeconds(usage) / kCaptureSeconds;
  }
}
BENCHMARK(BM_GstLaunch15fps)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
