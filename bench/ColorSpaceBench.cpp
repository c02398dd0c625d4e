// Throughput of the image conversions in Mpix/s, each beside a memcpy of the
// same image measured in the same run, for three frame sizes; the cost of
// one call on a tiny image; and every kernel set this processor runs, forced
// in turn through the kernels' test hook, side by side.
#include <ColorSpace/ColorSpace.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "ColorTables.h"
#include "ColorTwist.h"
#include "Conversions.h"
#include "TwistKernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#if defined(COLORSPACE_BENCH_OPENCV)
#include <opencv2/core.hpp>
#endif
#if defined(COLORSPACE_BENCH_LIBYUV)
#include <libyuv/planar_functions.h>
#endif

namespace {

using testing_support::Conversion;

const std::string kSetPrefix = "set ";

struct FrameSize {
  int width;
  int height;
  const char* name;
};
constexpr FrameSize kSizes[] = {{640, 480, "640x480"}, {1920, 1080, "1920x1080"}, {3840, 2160, "3840x2160"}};

enum class MaskKind { kNone, kFull, kHalfRandom, kDisc, kEmpty };
const char* NameOf(MaskKind kind) {
  switch (kind) {
    case MaskKind::kNone:
      return "unmasked";
    case MaskKind::kFull:
      return "mask full";
    case MaskKind::kHalfRandom:
      return "mask 50% random";
    case MaskKind::kDisc:
      return "mask disc (half)";
    default:
      return "mask empty";
  }
}

// A frame with photo-like content, its output, and a mask.
struct Frame {
  Frame(int frameWidth, int frameHeight, MaskKind kind)
      : width(frameWidth), height(frameHeight), source(Bytes()), destination(Bytes()), mask(Pixels()) {
    std::mt19937 random(1);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        std::uint8_t* pixel = &source[4 * (static_cast<std::size_t>(y) * width + x)];
        pixel[0] = static_cast<std::uint8_t>(128 + 100 * std::sin(x * 0.01) + static_cast<int>(random() % 16));
        pixel[1] = static_cast<std::uint8_t>(128 + 100 * std::cos(y * 0.013) + static_cast<int>(random() % 16));
        pixel[2] = static_cast<std::uint8_t>((x + y) / 16 + static_cast<int>(random() % 16));
        pixel[3] = 255;
        // A filled disc around the centre covering half of the frame.
        const double dx = x - width / 2.0;
        const double dy = y - height / 2.0;
        const bool inDisc = dx * dx + dy * dy < 0.5 * width * height / 3.14159265358979;
        std::uint8_t& selected = mask[static_cast<std::size_t>(y) * width + x];
        switch (kind) {
          case MaskKind::kEmpty:
            selected = 0;
            break;
          case MaskKind::kHalfRandom:
            selected = static_cast<std::uint8_t>(random() & 1);
            break;
          case MaskKind::kDisc:
            selected = inDisc ? 1 : 0;
            break;
          default:
            selected = 1;
            break;
        }
      }
    }
  }
  Frame(const FrameSize& size, MaskKind kind) : Frame(size.width, size.height, kind) {}
  std::size_t Pixels() const { return static_cast<std::size_t>(width) * height; }
  std::size_t Bytes() const { return 4 * Pixels(); }
  tColorInterfaceImage Source(std::int32_t format) {
    return {source.data(), width, height, 4 * width, format, mask.data(), width};
  }
  tColorInterfaceImage Destination() { return {destination.data(), width, height, 4 * width, 1, nullptr, 0}; }

  int width;
  int height;
  std::vector<std::uint8_t> source;
  std::vector<std::uint8_t> destination;
  std::vector<std::uint8_t> mask;
};

void SetPixelRate(benchmark::State& state, std::size_t pixels) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * pixels));
}

void BM_Memcpy(benchmark::State& state, FrameSize size) {
  Frame frame(size, MaskKind::kNone);
  for (auto _ : state) {
    std::memcpy(frame.destination.data(), frame.source.data(), frame.Bytes());
    benchmark::ClobberMemory();
  }
  SetPixelRate(state, frame.Pixels());
}

#if defined(__x86_64__) || defined(__i386__)
// The memory traffic of a two-image conversion and nothing else: read the
// source and the destination, write the destination (with an OR, so that
// neither read can be dropped).
__attribute__((target("avx2"))) void BM_ReadTwoWriteOne(benchmark::State& state, FrameSize size) {
  Frame frame(size, MaskKind::kNone);
  for (auto _ : state) {
    const std::uint8_t* src = frame.source.data();
    std::uint8_t* dst = frame.destination.data();
    for (std::size_t i = 0; i < frame.Bytes(); i += 32) {
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_or_si256(a, b));
    }
    benchmark::ClobberMemory();
  }
  SetPixelRate(state, frame.Pixels());
}
#endif

void BM_Convert(benchmark::State& state, FrameSize size, Conversion conversion, bool inPlace, MaskKind kind) {
  Frame frame(size, kind);
  CColorSpace converter;
  const bool useMask = kind != MaskKind::kNone;
  for (auto _ : state) {
    tColorInterfaceImage source = frame.Source(conversion.from);
    bool done = false;
    if (inPlace) {
      // The format code is reset each time; the pixels just keep converting.
      done = (converter.*conversion.inPlace)(&source, useMask);
    } else {
      tColorInterfaceImage destination = frame.Destination();
      done = (converter.*conversion.twoImages)(&source, &destination, useMask);
    }
    if (!done) state.SkipWithError("conversion refused");
    benchmark::ClobberMemory();
  }
  SetPixelRate(state, frame.Pixels());
}

// What one call costs beyond its pixels: a tiny image, reported in ns per
// call.
void BM_SmallCall(benchmark::State& state, int width, int height, Conversion conversion, MaskKind kind) {
  Frame frame(width, height, kind);
  CColorSpace converter;
  const bool useMask = kind != MaskKind::kNone;
  for (auto _ : state) {
    tColorInterfaceImage source = frame.Source(conversion.from);
    tColorInterfaceImage destination = frame.Destination();
    benchmark::DoNotOptimize((converter.*conversion.twoImages)(&source, &destination, useMask));
    benchmark::ClobberMemory();
  }
}

// The straightforward masked path: one pixel at a time, a branch on the
// mask, the exact formula in double, truncation.
void BM_PlainExactLoop(benchmark::State& state, FrameSize size, MaskKind kind) {
  Frame frame(size, kind);
  for (auto _ : state) {
    for (int y = 0; y < frame.height; ++y) {
      const std::uint8_t* mask = &frame.mask[static_cast<std::size_t>(y) * frame.width];
      const std::uint8_t* in = &frame.source[4 * static_cast<std::size_t>(y) * frame.width];
      std::uint8_t* out = &frame.destination[4 * static_cast<std::size_t>(y) * frame.width];
      for (int x = 0; x < frame.width; ++x, in += 4, out += 4) {
        if (mask[x] == 0) continue;
        const double r = in[2];
        const double g = in[1];
        const double b = in[0];
        out[2] = static_cast<std::uint8_t>(0.29899999499320984 * r + 0.58700001239776611 * g + 0.11400000005960464 * b);
        out[1] = static_cast<std::uint8_t>(0.5 * b - (0.16858001053333282 * r + 0.33142000436782837 * g) + 128.0);
        out[0] = static_cast<std::uint8_t>(0.5 * r - 0.41870000958442688 * g - 0.081299997866153717 * b + 128.0);
      }
    }
    benchmark::ClobberMemory();
  }
  SetPixelRate(state, frame.Pixels());
}

// One kernel set forced for the length of a benchmark.
class ForcedKernelSet {
 public:
  explicit ForcedKernelSet(int index) { colortwist::UseKernelSetForTesting(index); }
  ~ForcedKernelSet() { colortwist::ResetKernelSetForTesting(); }
  ForcedKernelSet(const ForcedKernelSet&) = delete;
  ForcedKernelSet& operator=(const ForcedKernelSet&) = delete;
};

// RGB to YUV through the kernels' own entry points (what the library calls
// after checking the descriptors), with one kernel set forced. The fixed
// forms are the library's, made once.
const colortwist::FixedTwist kRoundedRGBtoYUV = *colortwist::MakeFixedTwist(colorspace::kTwistRGBtoYUV);
const colortwist::ExactFixedTwist kExactRGBtoYUV = *colortwist::MakeExactFixedTwist(colorspace::kExactRGBtoYUV);

bool ConvertWithKernels(Frame& frame, bool inPlace, MaskKind kind) {
  std::uint8_t* out = inPlace ? frame.source.data() : frame.destination.data();
  const colortwist::TwistSize size{frame.width, frame.height};
  const int status =
      kind == MaskKind::kNone
          ? colortwist::ColorTwist(frame.source.data(), 4 * frame.width, out, 4 * frame.width, size, kRoundedRGBtoYUV)
          : colortwist::MaskedTwist(frame.source.data(), 4 * frame.width, out, 4 * frame.width, frame.mask.data(),
                                    frame.width, size, kExactRGBtoYUV);
  return status == 0;
}

void BM_KernelSet(benchmark::State& state, int set, FrameSize size, bool inPlace, MaskKind kind) {
  Frame frame(size, kind);
  const ForcedKernelSet forced(set);
  for (auto _ : state) {
    if (!ConvertWithKernels(frame, inPlace, kind)) state.SkipWithError("conversion refused");
    benchmark::ClobberMemory();
  }
  SetPixelRate(state, frame.Pixels());
}

// One call on a small image with one kernel set forced, in ns per call.
void BM_KernelSetCall(benchmark::State& state, int set, int width, int height, MaskKind kind) {
  Frame frame(width, height, kind);
  const ForcedKernelSet forced(set);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ConvertWithKernels(frame, false, kind));
    benchmark::ClobberMemory();
  }
}

#if defined(COLORSPACE_BENCH_OPENCV)
void BM_OpenCVTransform(benchmark::State& state, FrameSize size) {
  Frame frame(size, MaskKind::kNone);
  cv::Mat source(frame.height, frame.width, CV_8UC4, frame.source.data());
  cv::Mat destination(frame.height, frame.width, CV_8UC4, frame.destination.data());
  float coefficients[4][5] = {{-0.0813F, -0.4187F, 0.5F, 0.0F, 128.0F},
                              {0.5F, -0.33142F, -0.16858F, 0.0F, 128.0F},
                              {0.114F, 0.587F, 0.299F, 0.0F, 0.0F},
                              {0.0F, 0.0F, 0.0F, 1.0F, 0.0F}};
  const cv::Mat matrix(4, 5, CV_32F, coefficients);
  cv::setNumThreads(1);
  for (auto _ : state) {
    cv::transform(source, destination, matrix);
    benchmark::ClobberMemory();
  }
  SetPixelRate(state, frame.Pixels());
}
#endif

#if defined(COLORSPACE_BENCH_LIBYUV)
void BM_LibyuvColorMatrix(benchmark::State& state, FrameSize size) {
  Frame frame(size, MaskKind::kNone);
  // 6-bit coefficients (64 = 1.0); B, G, R, A weights per output B, G, R, A.
  const std::int8_t matrix[16] = {-5, -27, 32, 0, 32, -21, -11, 0, 7, 38, 19, 0, 0, 0, 0, 64};
  for (auto _ : state) {
    libyuv::ARGBColorMatrix(frame.source.data(), 4 * frame.width, frame.destination.data(), 4 * frame.width, matrix,
                            frame.width, frame.height);
    benchmark::ClobberMemory();
  }
  SetPixelRate(state, frame.Pixels());
}
#endif

// Prints each run as usual, then a table of Mpix/s and the ratio to the
// memcpy of the same frame size (or ns per call for the tiny images).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      // With repetitions only the median counts: the machines are noisy.
      const bool repeated = run.repetitions > 1;
      if (repeated && run.aggregate_name != "median") continue;
      if (run.error_occurred) continue;
      const auto items = run.counters.find("items_per_second");
      if (items == run.counters.end()) {
        calls_.push_back({run.run_name.str(), run.GetAdjustedRealTime()});
      } else {
        rows_.push_back({run.run_name.str(), items->second.value / 1e6});
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::map<std::string, double> memcpyRate;
    for (const Row& row : rows_) {
      if (row.name.rfind("memcpy/", 0) == 0) memcpyRate[SizeOf(row.name)] = row.value;
    }
    std::printf("\n| benchmark | Mpix/s | x memcpy |\n|---|---:|---:|\n");
    for (const Row& row : rows_) {
      const auto baseline = memcpyRate.find(SizeOf(row.name));
      const double ratio = baseline == memcpyRate.end() ? 0.0 : row.value / baseline->second;
      std::printf("| %s | %.0f | %.2f |\n", row.name.c_str(), row.value, ratio);
    }
    if (!calls_.empty()) {
      std::printf("\n| one call | ns |\n|---|---:|\n");
      for (const Row& call : calls_) std::printf("| %s | %.1f |\n", call.name.c_str(), call.value);
    }
    PrintSetsSideBySide(memcpyRate);
  }

 private:
  struct Row {
    std::string name;
    double value;
  };
  static std::string SizeOf(const std::string& name) { return name.substr(name.rfind('/') + 1); }

  // Rows named "set <name>: <case>" become one table: a line per case, a
  // column per set; frames in Mpix/s (and x memcpy), calls in ns.
  void PrintSetsSideBySide(const std::map<std::string, double>& memcpyRate) const {
    std::vector<std::string> sets;
    std::vector<std::string> cases;
    std::map<std::pair<std::string, std::string>, Row> cells;
    const auto collect = [&](const std::vector<Row>& rows, bool frames) {
      for (const Row& row : rows) {
        if (row.name.rfind(kSetPrefix, 0) != 0) continue;
        const std::size_t colon = row.name.find(": ");
        const std::string set = row.name.substr(kSetPrefix.size(), colon - kSetPrefix.size());
        const std::string what = row.name.substr(colon + 2) + (frames ? "" : " (ns)");
        if (std::find(sets.begin(), sets.end(), set) == sets.end()) sets.push_back(set);
        if (std::find(cases.begin(), cases.end(), what) == cases.end()) cases.push_back(what);
        cells[{what, set}] = row;
      }
    };
    collect(rows_, true);
    collect(calls_, false);
    if (sets.empty()) return;
    std::printf("\n| RGBtoYUV, kernel set forced |");
    for (const std::string& set : sets) std::printf(" %s |", set.c_str());
    std::printf("\n|---|");
    for (std::size_t i = 0; i < sets.size(); ++i) std::printf("---:|");
    std::printf("\n");
    for (const std::string& what : cases) {
      std::printf("| %s |", what.c_str());
      for (const std::string& set : sets) {
        const auto cell = cells.find({what, set});
        if (cell == cells.end()) {
          std::printf(" |");
        } else if (what.size() > 5 && what.compare(what.size() - 5, 5, " (ns)") == 0) {
          std::printf(" %.1f |", cell->second.value);
        } else {
          const auto baseline = memcpyRate.find(SizeOf(what));
          const double ratio = baseline == memcpyRate.end() ? 0.0 : cell->second.value / baseline->second;
          std::printf(" %.0f (%.2f) |", cell->second.value, ratio);
        }
      }
      std::printf("\n");
    }
    std::printf("(Mpix/s, in brackets x memcpy of the same frame)\n");
  }

  std::vector<Row> rows_;
  std::vector<Row> calls_;
};

// The small images whose one call is timed: a pixel, a 16x16 image and the
// same 256 pixels as one row.
struct SmallImage {
  int width;
  int height;
};
constexpr SmallImage kSmallImages[] = {{1, 1}, {16, 16}, {256, 1}};

// Every set this processor runs, on the frames and calls the targets name.
void RegisterKernelSets() {
  for (int set = 0; set < colortwist::KernelSetCount(); ++set) {
    if (!colortwist::RunsHere(colortwist::KernelSets()[set])) continue;
    const std::string prefix = kSetPrefix + colortwist::KernelSets()[set].name + ": ";
    for (const SmallImage image : kSmallImages) {
      for (const MaskKind kind : {MaskKind::kNone, MaskKind::kFull}) {
        char name[64];
        std::snprintf(name, sizeof name, "one call, %s, %dx%d", NameOf(kind), image.width, image.height);
        benchmark::RegisterBenchmark((prefix + name).c_str(), BM_KernelSetCall, set, image.width, image.height, kind);
      }
    }
    for (const FrameSize& size : {kSizes[1], kSizes[2]}) {
      const std::string suffix = std::string("/") + size.name;
      benchmark::RegisterBenchmark((prefix + "two images, unmasked" + suffix).c_str(), BM_KernelSet, set, size, false,
                                   MaskKind::kNone);
      benchmark::RegisterBenchmark((prefix + "in place, unmasked" + suffix).c_str(), BM_KernelSet, set, size, true,
                                   MaskKind::kNone);
      for (const MaskKind kind : {MaskKind::kFull, MaskKind::kHalfRandom, MaskKind::kDisc}) {
        benchmark::RegisterBenchmark((prefix + "two images, " + NameOf(kind) + suffix).c_str(), BM_KernelSet, set, size,
                                     false, kind);
      }
    }
  }
}

void RegisterAll() {
  RegisterKernelSets();
  const auto conversions = testing_support::AllConversions();
  for (const SmallImage image : kSmallImages) {
    for (const MaskKind kind : {MaskKind::kNone, MaskKind::kFull}) {
      char name[96];
      std::snprintf(name, sizeof name, "one call RGBtoYUV two images, %s/%dx%d", NameOf(kind), image.width,
                    image.height);
      benchmark::RegisterBenchmark(name, BM_SmallCall, image.width, image.height, conversions[0], kind);
    }
  }
  for (const FrameSize& size : kSizes) {
    const std::string suffix = std::string("/") + size.name;
    benchmark::RegisterBenchmark(("memcpy" + suffix).c_str(), BM_Memcpy, size);
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx2")) {
      benchmark::RegisterBenchmark(("read two, write one (AVX2)" + suffix).c_str(), BM_ReadTwoWriteOne, size);
    }
#endif
    for (const Conversion& conversion : conversions) {
      for (bool inPlace : {false, true}) {
        for (MaskKind kind :
             {MaskKind::kNone, MaskKind::kFull, MaskKind::kHalfRandom, MaskKind::kDisc, MaskKind::kEmpty}) {
          const std::string name =
              std::string(conversion.name) + (inPlace ? " in place, " : " two images, ") + NameOf(kind) + suffix;
          benchmark::RegisterBenchmark(name.c_str(), BM_Convert, size, conversion, inPlace, kind);
        }
      }
    }
    benchmark::RegisterBenchmark(("plain exact loop RGBtoYUV, mask full" + suffix).c_str(), BM_PlainExactLoop, size,
                                 MaskKind::kFull);
    benchmark::RegisterBenchmark(("plain exact loop RGBtoYUV, mask 50% random" + suffix).c_str(), BM_PlainExactLoop,
                                 size, MaskKind::kHalfRandom);
#if defined(COLORSPACE_BENCH_OPENCV)
    benchmark::RegisterBenchmark(("OpenCV float transform" + suffix).c_str(), BM_OpenCVTransform, size);
#endif
#if defined(COLORSPACE_BENCH_LIBYUV)
    benchmark::RegisterBenchmark(("libyuv ARGBColorMatrix" + suffix).c_str(), BM_LibyuvColorMatrix, size);
#endif
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::printf("kernel set the library chooses here: %s\n", colortwist::BestKernelSet().name);
  RegisterAll();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
