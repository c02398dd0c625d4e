// Every kernel set against the portable one, bit for bit, by forcing each
// set in turn.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ColorTables.h"
#include "ColorTwist.h"
#include "Conversions.h"
#include "TwistKernels.h"

#if defined(__aarch64__) && defined(__linux__)
#include <sys/prctl.h>
#endif

namespace {

using colortwist::KernelSet;

struct KernelSetGuard {
  explicit KernelSetGuard(const KernelSet& set) {
    colortwist::UseKernelSetForTesting(static_cast<int>(&set - colortwist::KernelSets()));
  }
  ~KernelSetGuard() { colortwist::ResetKernelSetForTesting(); }
  KernelSetGuard(const KernelSetGuard&) = delete;
  KernelSetGuard& operator=(const KernelSetGuard&) = delete;
};

const KernelSet& Portable() { return colortwist::KernelSets()[colortwist::KernelSetCount() - 1]; }

// The sets to compare with the portable one: every other set this
// processor runs.
std::vector<const KernelSet*> SetsToCompare() {
  std::vector<const KernelSet*> sets;
  for (int i = 0; i + 1 < colortwist::KernelSetCount(); ++i) {
    if (colortwist::RunsHere(colortwist::KernelSets()[i])) sets.push_back(&colortwist::KernelSets()[i]);
  }
  return sets;
}

// 4096 x 4096 pixels holding every 24-bit colour once, byte 3 varying.
std::vector<std::uint8_t> EveryColour() {
  std::vector<std::uint8_t> pixels(std::size_t{4} << 24);
  for (std::uint32_t colour = 0; colour < (1U << 24); ++colour) {
    const std::uint32_t word = colour | ((colour * 2654435761U) & 0xFF000000U);
    std::memcpy(&pixels[std::size_t{4} * colour], &word, 4);
  }
  return pixels;
}

constexpr colortwist::TwistSize kEveryColourSize{4096, 4096};
constexpr std::size_t kEveryColourBytes = std::size_t{4} << 24;

// Outputs start as canary bytes and run on for a few groups past the last
// pixel: no kernel may touch those, nor an unselected pixel, nor byte 3.
constexpr std::uint8_t kCanary = 0xA5;
constexpr std::size_t kCanaryBytes = std::size_t{4} * 64;

std::vector<std::uint8_t> Canvas() { return std::vector<std::uint8_t>(kEveryColourBytes + kCanaryBytes, kCanary); }

bool CanariesAfterLastPixel(const std::vector<std::uint8_t>& out) {
  for (std::size_t i = kEveryColourBytes; i < out.size(); ++i) {
    if (out[i] != kCanary) return false;
  }
  return true;
}

// The whole image is contiguous, so every call goes through the path that
// converts it as one long row.
std::vector<std::uint8_t> Twisted(const KernelSet& set, const std::vector<std::uint8_t>& source,
                                  const float (&twist)[3][4]) {
  KernelSetGuard guard(set);
  std::vector<std::uint8_t> out = Canvas();
  EXPECT_EQ(colortwist::ColorTwist(source.data(), 4 * 4096, out.data(), 4 * 4096, kEveryColourSize, twist), 0);
  EXPECT_TRUE(CanariesAfterLastPixel(out)) << set.name;
  return out;
}

std::vector<std::uint8_t> MaskedTwisted(const KernelSet& set, const std::vector<std::uint8_t>& source,
                                        const std::vector<std::uint8_t>& mask, const double (&matrix)[3][4]) {
  KernelSetGuard guard(set);
  std::vector<std::uint8_t> out = Canvas();
  EXPECT_EQ(colortwist::MaskedTwist(source.data(), 4 * 4096, out.data(), 4 * 4096, mask.data(), 4096, kEveryColourSize,
                                    matrix),
            0);
  EXPECT_TRUE(CanariesAfterLastPixel(out)) << set.name;
  std::size_t touched = 0;
  for (std::size_t i = 0; i < mask.size(); ++i) {
    const std::uint8_t* pixel = &out[4 * i];
    const bool keptAll = pixel[0] == kCanary && pixel[1] == kCanary && pixel[2] == kCanary;
    if (pixel[3] != kCanary || (mask[i] == 0 && !keptAll)) ++touched;
  }
  EXPECT_EQ(touched, 0U) << set.name << ": unselected pixels or bytes 3 written";
  return out;
}

// Runs of 64 pixels, in turn empty, full, random, and made of 4-pixel runs
// each empty, full or random: groups of every width come empty, full and
// mixed, and mask blocks both empty and not.
std::vector<std::uint8_t> GroupedMask() {
  std::vector<std::uint8_t> mask(std::size_t{1} << 24);
  std::mt19937 random(5);
  for (std::size_t i = 0; i < mask.size(); ++i) {
    const auto randomByte = static_cast<std::uint8_t>(random() % 2 == 0 ? 0 : 1 + random() % 255);
    switch ((i / 64) % 4) {
      case 0:
        mask[i] = 0;
        break;
      case 1:
        mask[i] = 0x80;
        break;
      case 2:
        mask[i] = randomByte;
        break;
      default:
        mask[i] = (i / 4) % 3 == 0 ? 0 : ((i / 4) % 3 == 1 ? 1 : randomByte);
        break;
    }
  }
  return mask;
}

// What the detection found, in the words of the sets' needs.
std::string Offered() {
  const colortwist::CpuFeatures cpu = colortwist::DetectCpuFeatures();
  std::string offered;
  const auto add = [&offered](bool has, const char* what) {
    if (!has) return;
    if (!offered.empty()) offered += ", ";
    offered += what;
  };
  add(cpu.sse2, "sse2");
  add(cpu.avx2, "avx2 with YMM state saved");
  add(cpu.avx512, "avx512f, avx512bw and avx512vl with ZMM and opmask state saved");
  add(cpu.avx512Vnni, "avx512_vnni");
  add(cpu.neon, "a 64-bit ARM processor (NEON)");
  add(cpu.sve, "sve");
  return offered.empty() ? "none of these" : offered;
}

// Names every set built in: compared with the portable one when this
// processor runs it, and otherwise why not.
void LogKernelSets() {
  for (int i = 0; i < colortwist::KernelSetCount(); ++i) {
    const KernelSet& set = colortwist::KernelSets()[i];
    if (&set == &Portable()) {
      std::printf("kernel set %s: the reference the others are compared with\n", set.name);
    } else if (colortwist::RunsHere(set)) {
      std::printf("kernel set %s: run and compared with portable\n", set.name);
    } else {
      std::printf("kernel set %s: built, not run: it needs %s; this processor and its OS offer %s\n", set.name,
                  set.needs, Offered().c_str());
    }
  }
  std::printf("best kernel set on this CPU: %s\n", colortwist::BestKernelSet().name);
  std::fflush(stdout);
}

// All 2^24 colours through each conversion: the fixed-point masked kernels
// equal the plain double evaluation, and every set equals the portable one
// on both paths, with a full mask and with one of empty, full and mixed
// groups.
TEST(Kernels, EveryColourEverySet) {
  LogKernelSets();
  const std::vector<std::uint8_t> colours = EveryColour();
  const std::vector<std::uint8_t> fullMask(std::size_t{1} << 24, 1);
  const std::vector<std::uint8_t> groupedMask = GroupedMask();
  for (const auto& conversion : testing_support::AllConversions()) {
    const auto twisted = Twisted(Portable(), colours, *conversion.twist);
    const auto masked = MaskedTwisted(Portable(), colours, fullMask, *conversion.exact);
    const auto groupMasked = MaskedTwisted(Portable(), colours, groupedMask, *conversion.exact);
    std::vector<std::uint8_t> viaDouble = Canvas();
    for (std::size_t row = 0; row < 4096; ++row) {
      colortwist::MaskedTwistRowDouble_C(colours.data() + row * 4 * 4096, viaDouble.data() + row * 4 * 4096,
                                         fullMask.data() + row * 4096, 4096, *conversion.exact);
    }
    ASSERT_EQ(masked, viaDouble) << conversion.name;
    for (const KernelSet* set : SetsToCompare()) {
      ASSERT_EQ(Twisted(*set, colours, *conversion.twist), twisted) << conversion.name << " " << set->name;
      ASSERT_EQ(MaskedTwisted(*set, colours, fullMask, *conversion.exact), masked)
          << conversion.name << " " << set->name;
      ASSERT_EQ(MaskedTwisted(*set, colours, groupedMask, *conversion.exact), groupMasked)
          << conversion.name << " " << set->name;
    }
  }
}

enum class MaskKind { kEmpty, kFull, kAlternating, kRandom, kLongRuns };

std::vector<std::uint8_t> MakeMask(MaskKind kind, std::size_t count, std::mt19937& random) {
  std::vector<std::uint8_t> mask(count);
  bool on = false;
  for (std::size_t i = 0; i < count; ++i) {
    switch (kind) {
      case MaskKind::kEmpty:
        mask[i] = 0;
        break;
      case MaskKind::kFull:
        mask[i] = 0xFF;
        break;
      case MaskKind::kAlternating:
        mask[i] = static_cast<std::uint8_t>(i % 2);
        break;
      case MaskKind::kRandom:
        mask[i] = static_cast<std::uint8_t>(random() % 2 == 0 ? 0 : 1 + random() % 255);
        break;
      case MaskKind::kLongRuns:
        if (random() % 40 == 0) on = !on;
        mask[i] = on ? 1 : 0;
        break;
    }
  }
  return mask;
}

struct Layout {
  std::int32_t width;
  std::int32_t height;
  std::int32_t padding;
  bool bottomUp;
  bool inPlace;
};

// Runs one kernel level over one layout; returns the destination memory.
std::vector<std::uint8_t> RunLayout(const KernelSet& set, const Layout& layout, const std::vector<std::uint8_t>& source,
                                    const std::vector<std::uint8_t>& destination, const std::vector<std::uint8_t>* mask,
                                    const float (&twist)[3][4], const double (&matrix)[3][4]) {
  KernelSetGuard guard(set);
  const std::int32_t rowBytes = 4 * layout.width + layout.padding;
  const std::int32_t step = layout.bottomUp ? -rowBytes : rowBytes;
  const std::ptrdiff_t firstRow = layout.bottomUp ? std::ptrdiff_t{rowBytes} * (layout.height - 1) : 0;
  std::vector<std::uint8_t> src = source;
  std::vector<std::uint8_t> dst = layout.inPlace ? source : destination;
  std::uint8_t* out = (layout.inPlace ? src.data() : dst.data()) + firstRow;
  const colortwist::TwistSize size{layout.width, layout.height};
  int status = 0;
  if (mask == nullptr) {
    status = layout.inPlace ? colortwist::ColorTwistInPlace(out, step, size, twist)
                            : colortwist::ColorTwist(src.data() + firstRow, step, out, step, size, twist);
  } else {
    status = colortwist::MaskedTwist(src.data() + firstRow, step, out, step, mask->data(), layout.width, size, matrix);
  }
  EXPECT_EQ(status, 0);
  return layout.inPlace ? src : dst;
}

// Odd widths, padded, bottom-up and in-place rows, every mask shape, and
// random matrices (some without a fixed-point form).
TEST(Kernels, LayoutsMasksAndRandomMatrices) {
  std::mt19937 random(12);
  std::uniform_real_distribution<float> weight(-3.9F, 3.9F);
  std::uniform_real_distribution<float> constant(-400.0F, 400.0F);
  const auto sets = SetsToCompare();
  for (int trial = 0; trial < 24; ++trial) {
    float twist[3][4];
    double matrix[3][4];
    for (int k = 0; k < 3; ++k) {
      for (int j = 0; j < 4; ++j) {
        twist[k][j] = j == 3 ? constant(random) : weight(random);
        matrix[k][j] = twist[k][j];
      }
    }
    if (trial % 6 == 5) twist[1][1] = 40.0F;  // no 16-bit form
    if (trial % 6 == 4) matrix[2][0] = 1e-9;  // not on the 2^-27 grid
    if (trial % 6 == 3) matrix[0][3] = 1e30;  // constant out of range
    for (std::int32_t width = 1; width <= 67; width += (trial % 3) + 1) {
      const Layout layout{width, 3, (trial * 4) % 12, trial % 2 == 1, trial % 4 == 2};
      const std::size_t bytes = static_cast<std::size_t>(4 * width + layout.padding) * 3;
      std::vector<std::uint8_t> source(bytes);
      std::vector<std::uint8_t> destination(bytes);
      for (auto& b : source) b = static_cast<std::uint8_t>(random());
      for (auto& b : destination) b = static_cast<std::uint8_t>(random());
      const auto kind = static_cast<MaskKind>((width + trial) % 5);
      const auto mask = MakeMask(kind, static_cast<std::size_t>(width) * 3, random);
      const auto expectedTwist = RunLayout(Portable(), layout, source, destination, nullptr, twist, matrix);
      const auto expectedMasked = RunLayout(Portable(), layout, source, destination, &mask, twist, matrix);
      for (const KernelSet* set : sets) {
        ASSERT_EQ(RunLayout(*set, layout, source, destination, nullptr, twist, matrix), expectedTwist)
            << set->name << " width " << width << " trial " << trial;
        ASSERT_EQ(RunLayout(*set, layout, source, destination, &mask, twist, matrix), expectedMasked)
            << set->name << " width " << width << " trial " << trial << " mask " << static_cast<int>(kind);
      }
    }
  }
}

// Unselected pixels, byte 3 and the bytes after the last pixel keep their
// values in every set, on both paths, for rows shorter and longer than a
// group.
TEST(Kernels, LeaveUnselectedPixelsByte3AndWhatFollows) {
  std::mt19937 random(13);
  std::vector<const KernelSet*> sets = SetsToCompare();
  sets.push_back(&Portable());
  constexpr std::size_t kAfter = 256;
  for (const KernelSet* set : sets) {
    KernelSetGuard guard(*set);
    for (const std::int32_t width : {1, 3, 7, 15, 16, 17, 31, 63, 65, 203}) {
      for (MaskKind kind :
           {MaskKind::kEmpty, MaskKind::kFull, MaskKind::kAlternating, MaskKind::kRandom, MaskKind::kLongRuns}) {
        std::vector<std::uint8_t> source(std::size_t{4} * width);
        std::vector<std::uint8_t> destination(std::size_t{4} * width + kAfter);
        for (auto& b : source) b = static_cast<std::uint8_t>(random());
        for (auto& b : destination) b = static_cast<std::uint8_t>(random());
        const auto before = destination;
        const auto mask = MakeMask(kind, width, random);
        ASSERT_EQ(colortwist::MaskedTwist(source.data(), 0, destination.data(), 0, mask.data(), 0, {width, 1},
                                          colorspace::kExactYCbCrtoRGB),
                  0);
        for (std::int32_t i = 0; i < width; ++i) {
          ASSERT_EQ(destination[4 * i + 3], before[4 * i + 3]) << set->name;
          if (mask[i] == 0) {
            ASSERT_EQ(std::memcmp(&destination[std::size_t{4} * i], &before[std::size_t{4} * i], 4), 0) << set->name;
          }
        }
        ASSERT_TRUE(std::equal(destination.end() - kAfter, destination.end(), before.end() - kAfter)) << set->name;
        ASSERT_EQ(
            colortwist::ColorTwist(source.data(), 0, destination.data(), 0, {width, 1}, colorspace::kTwistRGBtoYUV), 0);
        for (std::int32_t i = 0; i < width; ++i) ASSERT_EQ(destination[4 * i + 3], before[4 * i + 3]) << set->name;
        ASSERT_TRUE(std::equal(destination.end() - kAfter, destination.end(), before.end() - kAfter)) << set->name;
      }
    }
  }
}

// The dispatcher picks the set the processor model should get: CI names it
// in COLORSPACE_EXPECTED_KERNEL_SET for each model it emulates, so that a
// set that is never chosen cannot pass unnoticed.
TEST(Kernels, BestSetIsTheExpectedOne) {
#if defined(__aarch64__) && defined(__linux__) && defined(PR_SVE_GET_VL)
  const int vectorLength = prctl(PR_SVE_GET_VL);
  if (vectorLength >= 0) std::printf("SVE vector length: %d bits\n", 8 * (vectorLength & PR_SVE_VL_LEN_MASK));
#endif
  const char* expected = std::getenv("COLORSPACE_EXPECTED_KERNEL_SET");
  if (expected == nullptr) GTEST_SKIP() << "COLORSPACE_EXPECTED_KERNEL_SET not set";
  EXPECT_STREQ(colortwist::BestKernelSet().name, expected);
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// The detection agrees with the compiler's own, which also asks the OS.
TEST(Kernels, DetectionAgreesWithTheCompiler) {
  const colortwist::CpuFeatures cpu = colortwist::DetectCpuFeatures();
  EXPECT_EQ(cpu.avx2, __builtin_cpu_supports("avx2") != 0);
  const bool avx512 = __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
                      __builtin_cpu_supports("avx512vl") != 0;
  EXPECT_EQ(cpu.avx512, avx512);
  EXPECT_EQ(cpu.avx512Vnni, avx512 && __builtin_cpu_supports("avx512vnni") != 0);
}
#endif

// The limits of the rounded fixed-point form: a weight that rounds to 2^15
// at the coarsest grid (2^-10) has none, nor has a constant beyond 2^20.
TEST(Kernels, FixedFormLimits) {
  const auto with = [](float weight, float constant) {
    const float twist[3][4] = {{weight, 0, 0, constant}, {0, 1, 0, 0}, {0, 0, 1, 0}};
    return colortwist::MakeFixedTwist(twist);
  };
  ASSERT_TRUE(with(31.9F, 0).has_value());
  EXPECT_EQ(with(31.9F, 0)->shift, 10);
  EXPECT_FALSE(with(32.0F, 0).has_value());
  EXPECT_FALSE(with(-32.0F, 0).has_value());
  EXPECT_EQ(with(1.0F, 65536.0F)->shift, 14);
  EXPECT_EQ(with(1.0F, 1048576.0F)->shift, 10);
  EXPECT_FALSE(with(1.0F, 1048704.0F).has_value());
}

TEST(Kernels, StatusForBadArguments) {
  std::uint8_t pixel[4] = {};
  const float twist[3][4] = {};
  const double matrix[3][4] = {};
  EXPECT_NE(colortwist::ColorTwist(nullptr, 4, pixel, 4, {1, 1}, twist), 0);
  EXPECT_NE(colortwist::ColorTwistInPlace(pixel, 4, {0, 1}, twist), 0);
  EXPECT_NE(colortwist::ColorTwistInPlace(pixel, 4, {1, -1}, twist), 0);
  EXPECT_NE(colortwist::ColorTwistInPlace(pixel, 4, {1, 1}, nullptr), 0);
  EXPECT_NE(colortwist::MaskedTwist(pixel, 4, pixel, 4, nullptr, 1, {1, 1}, matrix), 0);
}

}  // namespace
