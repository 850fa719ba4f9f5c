// PixelConverter side by side with libyuv, the library a user would otherwise
// pick, and with the memory floor: YUY2 frames to bottom-up 32-bit pictures at
// the usual camera sizes, through the public routine and through each kernel,
// hot (one frame converted again and again) and cold (a rotation through
// memory much larger than the last-level cache), with destinations on a cache
// line and 16 bytes off one, as a plain heap allocation gives. The floor moves
// the conversion's bytes (read 2wh, write 4wh) with 64-byte vector loads and
// stores and does nothing else. Then the nearest-neighbour scaler against
// libyuv's unfiltered ARGBScale.
//
// Run pinned to one core, e.g.
//   taskset -c 1 bench_pixel_converter --benchmark_filter=Yuy2
//     --benchmark_min_time=0.005 --benchmark_enable_random_interleaving=true
// and read the "min" (best of the repetitions) or "median" rows.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>
#include <immintrin.h>
#include <libyuv.h>

#include "pixel/cpu_features.h"
#include "pixel/pixel_converter.h"
#include "pixel/yuy2_row.h"

namespace {

constexpr int kRepetitions = 30;

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
// at least 256 MiB and at most 1 GiB, allocated once for the whole run.
std::uint8_t* ColdPool(std::size_t& bytes) {
  static std::size_t size = 0;
  static Memory pool = [] {
    long llc = sysconf(_SC_LEVEL3_CACHE_SIZE);
    size = std::clamp<std::size_t>(3 * std::size_t(std::max(llc, 0L)), 256u << 20, 1u << 30);
    return Allocate(size);
  }();
  bytes = size;
  return pool.get();
}

// YUY2 sources and 32-bit destinations, page-aligned, with room for a
// destination moved off its line; cold runs cycle through as many pairs as the
// cold pool holds.
class Frames {
 public:
  Frames(Size size, bool cold, int offset) : size_(size) {
    const std::size_t src = Round(SrcBytes()), pair = src + Round(DstBytes() + 64);
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
      slots_.push_back({base, base + src + offset});
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
  // The first source row's destination: the last row in memory.
  std::uint8_t* LastRow(const Slot& s) const {
    return s.dst + std::ptrdiff_t(size_.height - 1) * size_.width * 4;
  }

 private:
  static std::size_t Round(std::size_t bytes) { return (bytes + 4095) / 4096 * 4096; }
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

// The floor: each source row's bytes go into both halves of its bottom-up
// destination row with 64-byte vector loads and stores.
__attribute__((target("avx512f"))) void CopyRows(const std::uint8_t* src, std::uint8_t* last, int w,
                                                 int h) {
  const int n = w * 2;
  for (int y = 0; y < h; ++y, src += n, last -= 2 * n) {
    int i = 0;
    for (; i + 64 <= n; i += 64) {
      const __m512i v = _mm512_loadu_si512(src + i);
      _mm512_storeu_si512(last + 2 * i, v);
      _mm512_storeu_si512(last + 2 * i + 64, v);
    }
    std::memcpy(last + 2 * i, src + i, std::size_t(n - i));
    std::memcpy(last + n + i, src + i, std::size_t(n - i));
  }
}

void BM_Floor(benchmark::State& state, Size size, bool cold, int offset) {
  if (!pixel_kernels::CpuHas(pixel_kernels::kCpuAvx512F)) {
    state.SkipWithError("the floor uses AVX-512F");
    return;
  }
  Frames frames(size, cold, offset);
  for (auto _ : state) {
    const Frames::Slot& s = frames.Next();
    CopyRows(s.src, frames.LastRow(s), size.width, size.height);
    benchmark::ClobberMemory();
  }
  Finish(state, frames);
}

// The public routine, on the path `mask` leaves (0: the widest).
void BM_Ours(benchmark::State& state, Size size, bool cold, int offset, unsigned mask) {
  Frames frames(size, cold, offset);
  const PixelConverter converter;
  pixel_kernels::MaskCpuFeatures(mask);
  for (auto _ : state) {
    const Frames::Slot& s = frames.Next();
    VideoFrame dst{s.dst, size.width * 4, size.width, size.height, 0};
    converter.Yuy2ToRgb32(s.src, dst);
    benchmark::ClobberMemory();
  }
  pixel_kernels::MaskCpuFeatures(0);
  Finish(state, frames);
}

// One kernel directly, with or without streaming stores.
void BM_Kernel(benchmark::State& state, pixel_kernels::Yuy2RowsFn kernel,
               pixel_kernels::CpuFeature feature, Size size, bool cold, bool stream) {
  if (!pixel_kernels::CpuHas(feature)) {
    state.SkipWithError("not on this processor");
    return;
  }
  Frames frames(size, cold, 0);
  const int w = size.width & ~7;
  for (auto _ : state) {
    const Frames::Slot& s = frames.Next();
    kernel({s.src, size.width * 2, frames.LastRow(s), -std::ptrdiff_t{size.width} * 4, w,
            size.height, stream});
    benchmark::ClobberMemory();
  }
  Finish(state, frames);
}

// libyuv's YUY2ToARGB writing bottom-up through a negative stride.
void BM_Libyuv(benchmark::State& state, Size size, bool cold, int offset) {
  Frames frames(size, cold, offset);
  const int w = size.width, h = size.height;
  for (auto _ : state) {
    const Frames::Slot& s = frames.Next();
    libyuv::YUY2ToARGB(s.src, w * 2, frames.LastRow(s), -w * 4, w, h);
    benchmark::ClobberMemory();
  }
  Finish(state, frames);
}

// Scaling: 32-bit pictures, hot; `offset` moves both pictures off their lines.
struct Scale {
  Size from, to;
};
constexpr Scale kScales[] = {
    {{640, 480}, {176, 144}}, {{352, 288}, {176, 144}}, {{176, 144}, {352, 288}}};

void BM_ScaleNearest(benchmark::State& state, Scale scale, int offset, bool libyuv) {
  Memory src = Allocate(std::size_t(scale.from.width) * scale.from.height * 4 + 64);
  Memory dst = Allocate(std::size_t(scale.to.width) * scale.to.height * 4 + 64);
  const PixelConverter converter;
  const VideoFrame in{src.get() + offset, scale.from.width * 4, scale.from.width, scale.from.height,
                      0};
  VideoFrame out{dst.get() + offset, scale.to.width * 4, scale.to.width, scale.to.height, 0};
  for (auto _ : state) {
    if (libyuv) {
      libyuv::ARGBScale(in.data, in.stride, in.width, in.height, out.data, out.stride, out.width,
                        out.height, libyuv::kFilterNone);
    } else {
      converter.ScaleNearest(out, in);
    }
    benchmark::ClobberMemory();
  }
  state.counters["px"] = scale.to.width * scale.to.height;
}

std::string Name(const std::string& what, Size s, const std::string& tail) {
  return what + "/" + std::to_string(s.width) + "x" + std::to_string(s.height) + tail;
}

template <typename... Args>
void Add(const std::string& name, Args&&... args) {
  benchmark::RegisterBenchmark(name.c_str(), std::forward<Args>(args)...)
      ->Unit(benchmark::kNanosecond)
      ->Repetitions(kRepetitions)
      ->ReportAggregatesOnly(true)
      ->ComputeStatistics("min", [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
      });
}

int Register() {
  using namespace pixel_kernels;
  struct Kernel {
    const char* name;
    Yuy2RowsFn fn;
    CpuFeature feature;
  };
  const std::vector<Kernel> kernels = {
#if defined(__x86_64__)
    {"sse2", Yuy2ToArgbRows_SSE2, kCpuSse2},
    {"avx2", Yuy2ToArgbRows_AVX2, kCpuAvx2},
    {"avx512bw", Yuy2ToArgbRows_AVX512BW, kCpuAvx512Bw},
#endif
  };
  for (const bool cold : {false, true}) {
    for (const int offset : {0, 16}) {
      const std::string tail = std::string(cold ? "/cold" : "/hot") + (offset ? "_dst16" : "");
      for (const Size s : kSizes) {
        Add(Name("Yuy2_Floor", s, tail), BM_Floor, s, cold, offset);
        Add(Name("Yuy2_Libyuv", s, tail), BM_Libyuv, s, cold, offset);
        Add(Name("Yuy2_Ours", s, tail), BM_Ours, s, cold, offset, 0u);
        if (offset == 0) {
          for (const Kernel& k : kernels) {
            for (const bool stream : {false, true}) {
              Add(Name(std::string("Yuy2_Kernel_") + k.name + (stream ? "_nt" : ""), s, tail),
                  BM_Kernel, k.fn, k.feature, s, cold, stream);
            }
          }
        }
        if (!cold && offset == 0) {
          Add(Name("Yuy2_Scalar", s, tail), BM_Ours, s, cold, offset, unsigned{kCpuSse2});
        }
      }
    }
  }
  for (const int offset : {0, 16}) {
    for (const Scale& sc : kScales) {
      const std::string tail = "_to_" + std::to_string(sc.to.width) + "x" +
                               std::to_string(sc.to.height) + (offset ? "/off16" : "");
      Add(Name("Scale_Libyuv", sc.from, tail), BM_ScaleNearest, sc, offset, true);
      Add(Name("Scale_Ours", sc.from, tail), BM_ScaleNearest, sc, offset, false);
    }
  }
  return 0;
}

const int registered = Register();

}  // namespace

BENCHMARK_MAIN();
