// Milliseconds per frame of BGRA → NV12 at 1080p and 4K: ConvertCpu (and each vector level it
// can use), the plain reference, and libyuv's ARGBToNV12 (libyuv's "ARGB" is B, G, R, A in
// memory, our layout). libyuv uses other coefficients; it is here as the speed anchor.
#include <benchmark/benchmark.h>

#include <libyuv/convert_from_argb.h>

#include <random>
#include <vector>

#include "encoder/color_convert.h"
#include "encoder/color_convert_kernels.h"
#include "encoder/convert_reference.h"

namespace {

using namespace Sorvane;

struct Frame {
  int width, height;
  std::vector<uint8_t> bgra, y, uv;
  Frame(int w, int h)
      : width(w),
        height(h),
        bgra(static_cast<size_t>(w) * h * 4),
        y(static_cast<size_t>(w) * h),
        uv(static_cast<size_t>(w) * (h / 2)) {
    std::mt19937 rng(5);
    for (auto& b : bgra)
      b = static_cast<uint8_t>(rng());
  }
};

Frame& FrameOf(int width, int height) {
  static Frame hd(1920, 1080), uhd(3840, 2160);
  return width == 1920 ? hd : uhd;
}

void BM_ConvertCpu(benchmark::State& state) {
  Frame& f = FrameOf(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    ConvertCpu(f.bgra.data(), f.width * 4, f.y.data(), f.uv.data(), f.width, f.height);
    benchmark::ClobberMemory();
  }
}

void BM_ConvertLevel(benchmark::State& state) {
  const auto level = static_cast<convert::SimdLevel>(state.range(2));
  if (level != convert::SimdLevel::Scalar && convert::PairKernelFor(level) == nullptr) {
    state.SkipWithError("level not available here");
    return;
  }
  Frame& f = FrameOf(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    convert::ConvertAt(level, f.bgra.data(), f.width * 4, f.y.data(), f.width, f.uv.data(), f.width,
                       nullptr, 0, nullptr, 0, f.width, f.height);
    benchmark::ClobberMemory();
  }
}

void BM_Reference(benchmark::State& state) {
  Frame& f = FrameOf(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    reference::ConvertBgraToNv12(f.bgra.data(), f.width * 4, f.y.data(), f.uv.data(), f.width,
                                 f.height);
    benchmark::ClobberMemory();
  }
}

void BM_LibyuvARGBToNV12(benchmark::State& state) {
  Frame& f = FrameOf(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    libyuv::ARGBToNV12(f.bgra.data(), f.width * 4, f.y.data(), f.width, f.uv.data(), f.width,
                       f.width, f.height);
    benchmark::ClobberMemory();
  }
}

#define SIZES Args({1920, 1080})->Args({3840, 2160})
BENCHMARK(BM_ConvertCpu)->SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibyuvARGBToNV12)->SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Reference)->SIZES->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertLevel)
    ->ArgsProduct({{1920}, {1080}, {0, 1, 2}})
    ->ArgsProduct({{3840}, {2160}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
