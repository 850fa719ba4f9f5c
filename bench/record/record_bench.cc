// Recording a frame (conversion to 24-bit rows and the write into the page
// cache) beside a plain fwrite of the same bytes, at the camera's two sizes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "record/avi_file.h"
#include "record/avi_layout.h"

namespace {

// Files start afresh at this size, so a run stays inside the page cache.
constexpr std::uint64_t kFileBytes = std::uint64_t{256} << 20;

std::string BenchPath() {
  return "/tmp/bench_record_" + std::to_string(getpid()) + ".avi";
}

// Frames a second show as items_per_second, MB/s as bytes_per_second.
void Rates(benchmark::State& state, std::size_t bytes_per_frame) {
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes_per_frame));
}

void BM_WriteFrame(benchmark::State& state) {
  const auto width = static_cast<std::int32_t>(state.range(0));
  const auto height = static_cast<std::int32_t>(state.range(1));
  std::vector<std::uint8_t> frame(static_cast<std::size_t>(width) * height * 4);
  for (std::size_t i = 0; i < frame.size(); ++i) {
    frame[i] = static_cast<std::uint8_t>(i * 31);
  }
  const std::string path = BenchPath();
  auto start = [&] {
    auto avi = std::make_unique<CAVIFile>(path, width, height, 1 << 30);
    avi->LowerFileSizeLimit(kFileBytes);
    return avi;
  };
  auto avi = start();
  for (auto _ : state) {
    if (!avi->WriteFrame(frame.data(), width, height)) {
      state.PauseTiming();
      avi = start();
      state.ResumeTiming();
    }
  }
  avi.reset();
  unlink(path.c_str());
  Rates(state, avi::FrameRecordBytes(avi::ImageBytes(width, height)));
}

void BM_Fwrite(benchmark::State& state) {
  const auto width = static_cast<std::int32_t>(state.range(0));
  const auto height = static_cast<std::int32_t>(state.range(1));
  // The bytes WriteFrame puts on disk, already 24-bit.
  const std::vector<std::uint8_t> bytes(avi::FrameRecordBytes(avi::ImageBytes(width, height)), 7);
  const std::string path = BenchPath();
  FILE* file = std::fopen(path.c_str(), "wb");
  std::uint64_t written = 0;
  for (auto _ : state) {
    if (written + bytes.size() > kFileBytes) {
      state.PauseTiming();
      file = std::freopen(path.c_str(), "wb", file);
      written = 0;
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(std::fwrite(bytes.data(), 1, bytes.size(), file));
    written += bytes.size();
  }
  std::fclose(file);
  unlink(path.c_str());
  Rates(state, bytes.size());
}

BENCHMARK(BM_WriteFrame)->Args({352, 288})->Args({640, 480});
BENCHMARK(BM_Fwrite)->Args({352, 288})->Args({640, 480});

}  // namespace

BENCHMARK_MAIN();
