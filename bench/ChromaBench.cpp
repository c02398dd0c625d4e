// Chroma resampling of one 1920x1080 frame, both colour-difference planes:
// reading (plane to one value per pixel, a row at a time into a full-size
// plane) and writing (4-byte pixels to the plane).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "formats/ChromaSampling.h"

namespace {

using cstool::ChromaSampling;
using cstool::ChromaSiting;

constexpr std::size_t kWidth = 1920;
constexpr std::size_t kHeight = 1080;

// Smoothly varying values, so that no filter meets a constant.
std::uint8_t Pattern(std::size_t x, std::size_t y) { return static_cast<std::uint8_t>((x * 7 + y * 3 + x * y) >> 2); }

void Upsample(benchmark::State& state, ChromaSampling sampling, ChromaSiting siting) {
  const std::size_t chromaWidth = cstool::ChromaWidth(kWidth, sampling);
  const std::size_t chromaHeight = cstool::ChromaHeight(kHeight, sampling);
  std::vector<std::uint8_t> planes[2];
  for (auto& plane : planes) {
    plane.resize(chromaWidth * chromaHeight);
    for (std::size_t y = 0; y < chromaHeight; ++y) {
      for (std::size_t x = 0; x < chromaWidth; ++x) plane[y * chromaWidth + x] = Pattern(x, y);
    }
  }
  std::vector<std::uint8_t> full(2 * kWidth * kHeight);
  for (auto _ : state) {
    for (std::size_t p = 0; p < 2; ++p) {
      cstool::ChromaUpsampler upsampler(planes[p].data(), chromaWidth, kWidth, kHeight, sampling, siting);
      std::uint8_t* out = full.data() + p * kWidth * kHeight;
      for (std::size_t y = 0; y < kHeight; ++y) upsampler.Row(y, out + y * kWidth);
    }
    benchmark::DoNotOptimize(full.data());
    benchmark::ClobberMemory();
  }
  state.counters["ns/frame"] = benchmark::Counter(static_cast<double>(state.iterations()) * 1e-9,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void Downsample(benchmark::State& state, ChromaSampling sampling, ChromaSiting siting) {
  std::vector<std::uint8_t> pixels(4 * kWidth * kHeight);
  for (std::size_t y = 0; y < kHeight; ++y) {
    for (std::size_t x = 0; x < 4 * kWidth; ++x) pixels[y * 4 * kWidth + x] = Pattern(x, y);
  }
  const std::size_t chromaWidth = cstool::ChromaWidth(kWidth, sampling);
  std::vector<std::uint8_t> planes(2 * chromaWidth * cstool::ChromaHeight(kHeight, sampling));
  for (auto _ : state) {
    // V (Cr) is the first byte of each pixel, U (Cb) the second.
    for (std::size_t p = 0; p < 2; ++p) {
      std::uint8_t* plane = planes.data() + p * planes.size() / 2;
      if (!cstool::DownsampleChroma(pixels.data(), 4 * kWidth, kWidth, kHeight, p, sampling, siting, plane,
                                    chromaWidth)) {
        state.SkipWithError("refused");
      }
    }
    benchmark::DoNotOptimize(planes.data());
    benchmark::ClobberMemory();
  }
  state.counters["ns/frame"] = benchmark::Counter(static_cast<double>(state.iterations()) * 1e-9,
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK_CAPTURE(Upsample, 420_centre, ChromaSampling::k420, ChromaSiting::kCenter)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Upsample, 420_left, ChromaSampling::k420, ChromaSiting::kLeft)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Upsample, 420_top_left, ChromaSampling::k420, ChromaSiting::kTopLeft)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Upsample, 422, ChromaSampling::k422, ChromaSiting::kLeft)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Downsample, 420_centre, ChromaSampling::k420, ChromaSiting::kCenter)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Downsample, 420_left, ChromaSampling::k420, ChromaSiting::kLeft)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Downsample, 422, ChromaSampling::k422, ChromaSiting::kLeft)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Downsample, 444, ChromaSampling::k444, ChromaSiting::kCenter)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
