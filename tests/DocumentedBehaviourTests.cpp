// What the README warns users of, held to its figures: round trips, grey on
// both paths, the matrices' products, and the format code after an in-place
// masked conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Conversions.h"

namespace {

using testing_support::AllConversions;
using testing_support::Conversion;

constexpr std::int32_t kSide = 4096;  // 4096 x 4096 = every RGB colour once

std::vector<std::uint8_t> EveryColour() {
  std::vector<std::uint8_t> colours(std::size_t{4} << 24);
  for (std::uint32_t colour = 0; colour < (1U << 24); ++colour)
    std::memcpy(&colours[std::size_t{4} * colour], &colour, 4);
  return colours;
}

int LargestDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  int largest = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (i % 4 != 3) largest = std::max(largest, std::abs(a[i] - b[i]));
  }
  return largest;
}

// Every colour there and back: at most 2 away per component on the fast path
// and 4 on the exact one, and both figures are reached.
TEST(DocumentedBehaviour, RoundTripsComeBackWithinTwoFastAndFourExact) {
  const auto conversions = AllConversions();
  const std::vector<std::uint8_t> colours = EveryColour();
  std::vector<std::uint8_t> everyPixel(std::size_t{1} << 24, 1);
  CColorSpace converter;
  for (const bool exact : {false, true}) {
    for (const std::size_t forward : {std::size_t{0}, std::size_t{2}}) {
      const Conversion& there = conversions[forward];
      const Conversion& back = conversions[forward + 1];
      std::vector<std::uint8_t> pixels = colours;
      tColorInterfaceImage image{
          pixels.data(), kSide, kSide, 4 * kSide, FORMAT_RGB, exact ? everyPixel.data() : nullptr, kSide};
      ASSERT_TRUE((converter.*there.inPlace)(&image, exact));
      ASSERT_TRUE((converter.*back.inPlace)(&image, exact));
      EXPECT_EQ(LargestDifference(colours, pixels), exact ? 4 : 2) << there.name << (exact ? " exact" : " fast");
    }
  }
}

// Every grey but black is V = 127 on the exact path (covered by the pixel
// tests) and V = 128 on the fast one.
TEST(DocumentedBehaviour, FastPathGivesGreyAVOf128) {
  std::vector<std::uint8_t> greys(std::size_t{4} * 256);
  for (int level = 0; level < 256; ++level)
    std::memset(&greys[std::size_t{4} * static_cast<std::size_t>(level)], level, 3);
  tColorInterfaceImage image{greys.data(), 256, 1, 4 * 256, FORMAT_RGB, nullptr, 0};
  CColorSpace converter;
  ASSERT_TRUE(converter.RGBtoYUV(&image, false));
  for (int level = 0; level < 256; ++level) {
    const std::uint8_t* pixel = &greys[std::size_t{4} * static_cast<std::size_t>(level)];
    EXPECT_EQ(pixel[2], level);
    EXPECT_EQ(pixel[1], 128) << level;
    EXPECT_EQ(pixel[0], 128) << level;
  }
}

// The inverse matrices are not the forward ones' exact inverses: the
// diagonal of their product, as the README gives it.
TEST(DocumentedBehaviour, InverseTimesForwardHasTheStatedDiagonal) {
  const auto conversions = AllConversions();
  const double stated[2][3] = {{1.00275, 1.00167, 1.0035}, {0.99979, 0.99991, 0.99954}};
  for (const std::size_t model : {std::size_t{0}, std::size_t{1}}) {
    const auto& forward = *conversions[2 * model].exact;
    const auto& inverse = *conversions[2 * model + 1].exact;
    for (int i = 0; i < 3; ++i) {
      double diagonal = 0.0;
      for (int k = 0; k < 3; ++k) diagonal += inverse[i][k] * forward[k][i];
      EXPECT_NEAR(diagonal, stated[model][i], 5e-6) << conversions[2 * model].name << " row " << i;
    }
  }
}

// In place through a mask, the code names the target model while unselected
// pixels keep the old one; an unmasked conversion back converts them too.
TEST(DocumentedBehaviour, InPlaceMaskedCodeNamesTheTargetAndUnmaskedBackConvertsEverything) {
  std::uint8_t pixels[8] = {0, 0, 255, 7, 0, 0, 255, 9};  // two red pixels, B G R A
  std::uint8_t mask[2] = {1, 0};
  tColorInterfaceImage image{pixels, 2, 1, 8, FORMAT_RGB, mask, 2};
  CColorSpace converter;
  ASSERT_TRUE(converter.RGBtoYUV(&image, true));
  EXPECT_EQ(image.nFormat, FORMAT_YUV);
  EXPECT_EQ(pixels[4] | pixels[5] << 8 | pixels[6] << 16, 0xFF0000);  // still RGB red
  ASSERT_TRUE(converter.YUVtoRGB(&image, false));
  EXPECT_EQ(pixels[6], 75);
  EXPECT_EQ(pixels[5], 255);
  EXPECT_EQ(pixels[4], 27);
  EXPECT_EQ(pixels[7], 9);
}

// The exact path truncates: over every input, the share of its values that
// are one below the nearest integer to the formula, as the help states it
// (about half to yuv or ycbcr, about a third back to rgb), never further.
TEST(DocumentedBehaviour, ExactPathIsTheTruncatedFormula) {
  const std::vector<std::uint8_t> colours = EveryColour();
  std::vector<std::uint8_t> everyPixel(std::size_t{1} << 24, 1);
  CColorSpace converter;
  for (const Conversion& conversion : AllConversions()) {
    std::vector<std::uint8_t> out = colours;
    tColorInterfaceImage src{
        const_cast<std::uint8_t*>(colours.data()), kSide, kSide, 4 * kSide, conversion.from, everyPixel.data(), kSide};
    tColorInterfaceImage dst{out.data(), kSide, kSide, 4 * kSide, FORMAT_RGB, nullptr, 0};
    ASSERT_TRUE((converter.*conversion.twoImages)(&src, &dst, true));
    const auto& exact = *conversion.exact;
    std::uint64_t below = 0;
    int furthest = 0;
    for (std::size_t i = 0; i < colours.size(); i += 4) {
      for (int k = 0; k < 3; ++k) {
        const auto& row = exact[2 - k];
        const double value = ((row[0] * colours[i + 2] + row[1] * colours[i + 1]) + row[2] * colours[i]) + row[3];
        const int nearest = static_cast<int>(std::lround(std::fmin(255.0, std::fmax(0.0, value))));
        const int got = out[i + static_cast<std::size_t>(k)];
        below += got == nearest - 1 ? 1 : 0;
        furthest = std::max(furthest, std::abs(got - nearest));
      }
    }
    const double share = static_cast<double>(below) / (3 << 24);
    std::printf("%-10s exact: %.1f%% of values one below the nearest\n", conversion.name, 100 * share);
    const bool toRgb = conversion.to == FORMAT_RGB;
    EXPECT_GT(share, toRgb ? 0.25 : 0.45) << conversion.name;
    EXPECT_LT(share, toRgb ? 0.40 : 0.55) << conversion.name;
    EXPECT_LE(furthest, 1) << conversion.name;
  }
}

}  // namespace
