// PixelConverter side by side with libyuv, the library a user would otherwise
// pick: YUY2 frames to bottom-up 32-bit pictures at the usual camera sizes,
// each of our kernels and the dispatched path, with hot buffers (one frame
// converted again and again) and cold ones (a rotation through buffers much
// larger than the last-level cache); a copy with the same traffic as the
// conversion (read 2wh bytes, write 4wh bytes) as the floor; and the
// nearest-neighbour scaler against libyuv's unfiltered ARGBScale.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <libyuv.h>

#include "pixel/cpu_features.h"
#include "pixel/pixel_converter.h"
#include "pixel/yuy2_row.h"

namespace {

constexpr int kRepetitions = 15;

struct Size {
  int width, height;
};
constexpr Size kSizes[] = {{176, 144}, {352, 288}, {640, 480}, {1280, 720}, {1920, 1080}};

// Page-aligned memory, filled so that every page is really there.
struct FreeDeleter {
  void operator()(std::uint8_t* p) const { std::free(p); }
};
using Memory = std::unique_ptr<std::uint8_t, FreeDeleter>;

Memory Allocate(std::size_t bytes) {
  void* p = nullptr;
  if (posix_memalign(&p, 4096, bytes) != 0) {
    std::abort();
  }
  auto* b = static_cast<std::uint8_t*>(p);
  for (std::size_t i = 0; i < bytes; ++i) {
    b[i] = static_cast<std::uint8_t>(i * 7 + (i >> 12));
  }
  return Memory(b);
}

// The memory that cold runs cycle through: three times the last-level cache,
// allocated and touched once for the whole run.
std::uint8_t* ColdPool(std::size_t& bytes) {
  static std::size_t size = 0;
  static Memory pool = [] {
    long llc = sysconf(_SC_LEVEL3_CACHE_SIZE);
    if (llc <= 0) {
      llc = 64L << 20;
    }
    size = std::clamp<std::size_t>(3 * std::size_t(llc), 256u << 20, 4ull << 30);
    return Allocate(size);
  }();
  bytes = size;
  return pool.get();
}

// One YUY2 source and one 32-bit destination, both page-aligned; cold runs
// cycle through as many pairs as the cold pool holds.
class Frames {
 public:
  Frames(Size size, bool cold) : size_(size) {
    const std::size_t src = SrcBytes(), dst = DstBytes();
    // Page-aligned, with room for a destination moved by up to 64 bytes.
    const std::size_t pair = (src + 4095) / 4096 * 4096 + (dst + 64 + 4095) / 4096 * 4096;
    std::uint8_t* base;
    std::size_t count = 1;
    if (cold) {
      std::size_t bytes;
      base = ColdPool(bytes);
      count = std::max<std::size_t>(1, bytes / pair);
    } else {
      own_ = Allocate(pair);
      base = own_.get();
    }
    for (std::size_t i = 0; i < count; ++i, base += pair) {
      slots_.push_back({base, base + (src + 4095) / 4096 * 4096});
    }
  }

  std::size_t SrcBytes() const { return std::size_t(size_.width) * size_.height * 2; }
  std::size_t DstBytes() const { return std::size_t(size_.width) * size_.height * 4; }
  Size size() const { return size_; }

  struct Slot {
    std::uint8_t* src;
    std::uint8_t* dst;
  };
  const Slot& Next() {
    const Slot& s = slots_[next_];
    next_ = next_ + 1 == slots_.size() ? 0 : next_ + 1;
    return s;
  }

 private:
  Size size_;
  Memory own_;
  std::vector<Slot> slots_;
  std::size_t next_ = 0;
};

void Finish(benchmark::State& state, const Frames& frames) {
  state.SetBytesProcessed(std::int64_t(state.iterations()) *
                          std::int64_t(frames.SrcBytes() + frames.DstBytes()));
  state.counters["px"] = frames.size().width * frames.size().height;
}

// Our conversion with one kernel, bottom-up as Yuy2ToRgb32 writes it.
void BM_Yuy2Kernel(benchmark::State& state, pixel_kernels::Yuy2RowFn kernel, pixel_kernels::CpuFeature feature,
                   Size size, bool cold, bool stream) {
  if (!pixel_kernels::CpuHas(feature)) {
    state.SkipWithError("not on this processor");
    return;
  }
  Frames frames(size, cold);
  const int w = size.width, h = size.height;
  for (auto _ : state) {
    const Frames::Slot& s = frames.Next();
    const std::uint8_t* src = s.src;
    std::uint8_t* row = s.dst + std::ptrdiff_t(h - 1) * w * 4;
    for (int y = 0; y < h; ++y, src += w * 2, row -= w * 4) {
      kernel(src, reinterpret_cast<std::uint32_t*>(row), w, stream);
    }
    if (stream) {
      pixel_kernels::StreamFence();
    }
    benchmark::ClobberMemory();
  }
  Finish(state, frames);
}

// The dispatched path, through PixelConverter. `offset` moves the
// destination off its cache line as a plain heap allocation would (16 bytes).
void BM_Yuy2ToRgb32(benchmark::State& state, Size size, bool cold, bool fast, int offset) {
  Frames frames(size, cold);
  const PixelConverter converter;
  pixel_kernels::MaskCpuFeatures(fast ? 0u : ~0u);
  for (auto _ : state) {
    const Frames::Slot& s = frames.Next();
    VideoFrame dst{s.dst + offset, size.width * 4, size.width, size.height, 0};
    converter.Yuy2ToRgb32(s.src, dst);
    benchmark::ClobberMemory();
  }
  pixel_kernels::MaskCpuFeatures(0);
  Finish(state, frames);
}

// libyuv's YUY2ToARGB writing bottom-up through a negative stride.
void BM_LibyuvYuy2ToArgb(benchmark::State& state, Size size, bool cold, int offset) {
  Frames frames(size, cold);
  const int w = size.width, h = size.height;
  for (auto _ : state) {
    const Frames::Slot& s = frames.Next();
    libyuv::YUY2ToARGB(s.src, w * 2, s.dst + offset + std::ptrdiff_t(h - 1) * w * 4, -w * 4, w, h);
    benchmark::ClobberMemory();
  }
  Finish(state, frames);
}

// The traffic of the conversion without its arithmetic: each source row is
// copied into both halves of its bottom-up destination row.
void BM_CopyFloor(benchmark::State& state, Size size, bool cold) {
  Frames frames(size, cold);
  const int w = size.width, h = size.height;
  for (auto _ : state) {
    const Frames::Slot& s = frames.Next();
    const std::uint8_t* src = s.src;
    std::uint8_t* row = s.dst + std::ptrdiff_t(h - 1) * w * 4;
    for (int y = 0; y < h; ++y, src += w * 2, row -= w * 4) {
      std::memcpy(row, src, std::size_t(w) * 2);
      std::memcpy(row + w * 2, src, std::size_t(w) * 2);
    }
    benchmark::ClobberMemory();
  }
  Finish(state, frames);
}

// Scaling: 32-bit pictures, hot.
struct Scale {
  Size from, to;
};
constexpr Scale kScales[] = {
    {{640, 480}, {176, 144}}, {{352, 288}, {176, 144}}, {{176, 144}, {352, 288}}};

// `offset` moves both pictures off their cache lines as plain heap
// allocations would (16 bytes).
void BM_ScaleNearest(benchmark::State& state, Scale scale, int offset) {
  Memory src = Allocate(std::size_t(scale.from.width) * scale.from.height * 4 + 64);
  Memory dst = Allocate(std::size_t(scale.to.width) * scale.to.height * 4 + 64);
  const PixelConverter converter;
  const VideoFrame in{src.get() + offset, scale.from.width * 4, scale.from.width, scale.from.height,
                      0};
  VideoFrame out{dst.get() + offset, scale.to.width * 4, scale.to.width, scale.to.height, 0};
  for (auto _ : state) {
    converter.ScaleNearest(out, in);
    benchmark::ClobberMemory();
  }
  state.counters["px"] = scale.to.width * scale.to.height;
}

void BM_LibyuvArgbScale(benchmark::State& state, Scale scale, int offset) {
  Memory src = Allocate(std::size_t(scale.from.width) * scale.from.height * 4 + 64);
  Memory dst = Allocate(std::size_t(scale.to.width) * scale.to.height * 4 + 64);
  for (auto _ : state) {
    libyuv::ARGBScale(src.get() + offset, scale.from.width * 4, scale.from.width, scale.from.height,
                      dst.get() + offset, scale.to.width * 4, scale.to.width, scale.to.height,
                      libyuv::kFilterNone);
    benchmark::ClobberMemory();
  }
  state.counters["px"] = scale.to.width * scale.to.height;
}

std::string Name(const char* what, Size s, const char* tail = "") {
  return std::string(what) + "/" + std::to_string(s.width) + "x" + std::to_string(s.height) + tail;
}

void Configure(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kNanosecond)->Repetitions(kRepetitions)->ReportAggregatesOnly(true);
}

int Register() {
  struct Kernel {
    const char* name;
    pixel_kernels::Yuy2RowFn fn;
    pixel_kernels::CpuFeature feature;
  };
  const std::vector<Kernel> kernels = {
#if defined(__x86_64__)
    {"sse2", pixel_kernels::Yuy2ToArgbRow_SSE2, pixel_kernels::kCpuSse2},
    {"avx2", pixel_kernels::Yuy2ToArgbRow_AVX2, pixel_kernels::kCpuAvx2},
    {"avx512bw", pixel_kernels::Yuy2ToArgbRow_AVX512BW, pixel_kernels::kCpuAvx512Bw},
#endif
  };
  for (const bool cold : {false, true}) {
    const char* tail = cold ? "/cold" : "/hot";
    for (const Size s : kSizes) {
      Configure(
          benchmark::RegisterBenchmark(Name("Floor_Copy", s, tail).c_str(), BM_CopyFloor, s, cold));
      Configure(benchmark::RegisterBenchmark(Name("Libyuv_YUY2ToARGB", s, tail).c_str(),
                                             BM_LibyuvYuy2ToArgb, s, cold, 0));
      Configure(benchmark::RegisterBenchmark(Name("Ours_Yuy2ToRgb32", s, tail).c_str(),
                                             BM_Yuy2ToRgb32, s, cold, true, 0));
      for (const Kernel& k : kernels) {
        for (const bool stream : {false, true}) {
          const std::string what = std::string("Ours_") + k.name + (stream ? "_nt" : "");
          Configure(benchmark::RegisterBenchmark(Name(what.c_str(), s, tail).c_str(), BM_Yuy2Kernel,
                                                 k.fn, k.feature, s, cold, stream));
        }
      }
      if (!cold) {
        Configure(benchmark::RegisterBenchmark(Name("Ours_Scalar", s, tail).c_str(), BM_Yuy2ToRgb32,
                                               s, cold, false, 0));
      }
      // A destination 16 bytes off its cache line, as a plain heap allocation
      // gives.
      const std::string off = std::string(tail) + "_dst16";
      Configure(benchmark::RegisterBenchmark(Name("Libyuv_YUY2ToARGB", s, off.c_str()).c_str(),
                                             BM_LibyuvYuy2ToArgb, s, cold, 16));
      Configure(benchmark::RegisterBenchmark(Name("Ours_Yuy2ToRgb32", s, off.c_str()).c_str(),
                                             BM_Yuy2ToRgb32, s, cold, true, 16));
    }
  }
  for (const int offset : {0, 16}) {
    for (const Scale& sc : kScales) {
      const std::string tail = "_to_" + std::to_string(sc.to.width) + "x" +
                               std::to_string(sc.to.height) + (offset ? "/off16" : "");
      Configure(benchmark::RegisterBenchmark(
          Name("Libyuv_ARGBScale", sc.from, tail.c_str()).c_str(), BM_LibyuvArgbScale, sc, offset));
      Configure(benchmark::RegisterBenchmark(
          Name("Ours_ScaleNearest", sc.from, tail.c_str()).c_str(), BM_ScaleNearest, sc, offset));
    }
  }
  return 0;
}

const int registered = Register();

}  // namespace

BENCHMARK_MAIN();
