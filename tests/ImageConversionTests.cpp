// Whole-image conversions on both paths, with the single-pixel conversions
// as the yardstick for the masked path and the exact matrix value for the
// unmasked one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Conversions.h"
#include "TestSupport.h"

namespace testing_support {
void PrintTo(const Conversion& conversion, std::ostream* out) { *out << conversion.name; }
}  // namespace testing_support

namespace {

using testing_support::PackedAt;
using testing_support::TestImage;

using testing_support::Conversion;

// Image shapes that exercise the row walking: padded and bottom-up rows,
// widths around the vector sizes.
struct Shape {
  std::int32_t width;
  std::int32_t height;
  std::int32_t sourcePadding;       // bytes added to 4 * width
  std::int32_t destinationPadding;  // likewise
  bool sourceBottomUp;
  bool destinationBottomUp;
};

const Shape kShapes[] = {
    {1, 1, 0, 0, false, false}, {7, 3, 0, 12, false, false}, {33, 5, 4, 0, true, false},
    {64, 4, 0, 0, false, true}, {67, 6, 20, 8, true, true},  {250, 3, 0, 0, false, false},
};

std::int32_t StepOf(const Shape& shape, std::int32_t padding, bool bottomUp) {
  const std::int32_t step = 4 * shape.width + padding;
  return bottomUp ? -step : step;
}

std::vector<std::uint8_t> RandomMask(std::mt19937& random, std::size_t count, int kind) {
  std::vector<std::uint8_t> mask(count);
  for (std::size_t i = 0; i < count; ++i) {
    switch (kind) {
      case 0:
        mask[i] = 0;
        break;
      case 1:
        mask[i] = static_cast<std::uint8_t>(1 + random() % 255);
        break;
      case 2:
        mask[i] = static_cast<std::uint8_t>(i % 2);
        break;
      default:
        mask[i] = static_cast<std::uint8_t>(random() % 2 == 0 ? 0 : random());
        break;
    }
  }
  return mask;
}

class ImageConversion : public ::testing::TestWithParam<Conversion> {};

// Masked path, two images: selected pixels equal the single-pixel
// conversion, unselected destination pixels and every byte 3 keep their old
// values, the source is untouched, and the destination gets the new code.
TEST_P(ImageConversion, MaskedTwoImagesMatchesSinglePixels) {
  const Conversion& conversion = GetParam();
  CColorSpace converter;
  std::mt19937 random(1);
  for (const Shape& shape : kShapes) {
    for (int maskKind = 0; maskKind < 4; ++maskKind) {
      TestImage source(shape.width, shape.height, StepOf(shape, shape.sourcePadding, shape.sourceBottomUp),
                       conversion.from);
      TestImage destination(shape.width, shape.height,
                            StepOf(shape, shape.destinationPadding, shape.destinationBottomUp), 4000);
      source.FillRandom(random);
      destination.FillRandom(random);
      source.SetMask(
          shape.width + 3,
          RandomMask(random, static_cast<std::size_t>(shape.width) * static_cast<std::size_t>(shape.height), maskKind));
      const TestImage sourceBefore = source;
      TestImage expected = destination;
      tColorInterfaceImage src = source.Descriptor();
      const tColorInterfaceImage srcDescriptor = src;
      tColorInterfaceImage dst = destination.Descriptor();
      ASSERT_TRUE((converter.*conversion.twoImages)(&src, &dst, true));
      EXPECT_EQ(dst.nFormat, conversion.to);
      EXPECT_TRUE(testing_support::SameDescriptor(src, srcDescriptor));
      EXPECT_EQ(source.Bytes(), sourceBefore.Bytes());
      EXPECT_TRUE(destination.GuardsIntact());
      for (std::int32_t r = 0; r < shape.height; ++r) {
        for (std::int32_t c = 0; c < shape.width; ++c) {
          if (source.MaskAt(r, c) == 0) continue;
          std::uint32_t pixel = PackedAt(source.Pixel(r, c));
          (converter.*conversion.packed)(pixel);
          std::uint8_t* target = expected.Pixel(r, c);
          target[0] = static_cast<std::uint8_t>(pixel);
          target[1] = static_cast<std::uint8_t>(pixel >> 8);
          target[2] = static_cast<std::uint8_t>(pixel >> 16);
        }
      }
      ASSERT_EQ(destination.Bytes(), expected.Bytes())
          << conversion.name << " width " << shape.width << " mask kind " << maskKind;
    }
  }
}

// In place equals converting a copy, on both paths.
TEST_P(ImageConversion, InPlaceEqualsTwoImages) {
  const Conversion& conversion = GetParam();
  CColorSpace converter;
  std::mt19937 random(2);
  for (const Shape& shape : kShapes) {
    for (bool useMask : {false, true}) {
      const std::int32_t step = StepOf(shape, shape.sourcePadding, shape.sourceBottomUp);
      TestImage image(shape.width, shape.height, step, conversion.from);
      image.FillRandom(random);
      image.SetMask(
          shape.width,
          RandomMask(random, static_cast<std::size_t>(shape.width) * static_cast<std::size_t>(shape.height), 3));
      TestImage copy = image;
      TestImage result = image;  // same layout, converted into from the copy
      tColorInterfaceImage src = copy.Descriptor();
      tColorInterfaceImage dst = result.Descriptor();
      tColorInterfaceImage inPlace = image.Descriptor();
      ASSERT_TRUE((converter.*conversion.twoImages)(&src, &dst, useMask));
      ASSERT_TRUE((converter.*conversion.inPlace)(&inPlace, useMask));
      EXPECT_EQ(inPlace.nFormat, conversion.to);
      EXPECT_EQ(image.Bytes(), result.Bytes()) << conversion.name << " width " << shape.width;
      // The same descriptor as source and destination behaves as in place.
      TestImage again = copy;
      tColorInterfaceImage same = again.Descriptor();
      ASSERT_TRUE((converter.*conversion.twoImages)(&same, &same, useMask));
      EXPECT_EQ(again.Bytes(), image.Bytes());
    }
  }
}

// Unmasked path on image shapes: byte 3 and the guard bands untouched, and
// the destination code set (accuracy is measured exhaustively below).
TEST_P(ImageConversion, UnmaskedKeepsByte3AndStaysInside) {
  const Conversion& conversion = GetParam();
  CColorSpace converter;
  std::mt19937 random(3);
  for (const Shape& shape : kShapes) {
    TestImage source(shape.width, shape.height, StepOf(shape, shape.sourcePadding, shape.sourceBottomUp),
                     conversion.from);
    TestImage destination(shape.width, shape.height, StepOf(shape, shape.destinationPadding, shape.destinationBottomUp),
                          FORMAT_RGB);
    source.FillRandom(random);
    destination.FillRandom(random);
    TestImage before = destination;
    tColorInterfaceImage src = source.Descriptor();
    tColorInterfaceImage dst = destination.Descriptor();
    ASSERT_TRUE((converter.*conversion.twoImages)(&src, &dst, false));
    EXPECT_EQ(dst.nFormat, conversion.to);
    EXPECT_TRUE(destination.GuardsIntact());
    for (std::int32_t r = 0; r < shape.height; ++r) {
      for (std::int32_t c = 0; c < shape.width; ++c) ASSERT_EQ(destination.Pixel(r, c)[3], before.Pixel(r, c)[3]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllConversions, ImageConversion, ::testing::ValuesIn(testing_support::AllConversions()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ImageConversions, EmptyMaskWritesNothingButSetsTheCode) {
  CColorSpace converter;
  std::mt19937 random(4);
  TestImage image(45, 7, 4 * 45, FORMAT_RGB);
  image.FillRandom(random);
  image.SetMask(45, std::vector<std::uint8_t>(std::size_t{45} * 7, 0));
  const auto before = image.Bytes();
  tColorInterfaceImage descriptor = image.Descriptor();
  ASSERT_TRUE(converter.RGBtoYCbCr(&descriptor, true));
  EXPECT_EQ(descriptor.nFormat, FORMAT_YCBCR);
  EXPECT_EQ(image.Bytes(), before);
}

TEST(ImageConversions, AlternatingMaskConvertsEverySecondPixel) {
  CColorSpace converter;
  TestImage image(9, 1, 36, FORMAT_RGB);
  for (std::int32_t c = 0; c < 9; ++c) {
    std::uint8_t* pixel = image.Pixel(0, c);
    pixel[0] = 0;  // pure red
    pixel[1] = 0;
    pixel[2] = 255;
    pixel[3] = 0x5A;
  }
  std::vector<std::uint8_t> mask(9);
  for (std::size_t c = 0; c < 9; ++c) mask[c] = static_cast<std::uint8_t>(c % 2 == 0 ? 1 : 0);
  image.SetMask(9, mask);
  tColorInterfaceImage descriptor = image.Descriptor();
  ASSERT_TRUE(converter.RGBtoYCbCr(&descriptor, true));
  for (std::int32_t c = 0; c < 9; ++c) {
    const std::uint8_t* pixel = image.Pixel(0, c);
    if (c % 2 == 0) {
      EXPECT_EQ(pixel[0], 239);  // Cr
      EXPECT_EQ(pixel[1], 90);   // Cb
      EXPECT_EQ(pixel[2], 81);   // Y
    } else {
      EXPECT_EQ(pixel[0], 0);
      EXPECT_EQ(pixel[1], 0);
      EXPECT_EQ(pixel[2], 255);
    }
    EXPECT_EQ(pixel[3], 0x5A);
  }
}

TEST(ImageConversions, MaskedInverseClamps) {
  CColorSpace converter;
  TestImage image(1, 1, 4, FORMAT_YCBCR);
  std::uint8_t* pixel = image.Pixel(0, 0);
  pixel[0] = 255;  // Cr
  pixel[1] = 255;  // Cb
  pixel[2] = 128;  // Y
  image.SetMask(1, {1});
  tColorInterfaceImage descriptor = image.Descriptor();
  ASSERT_TRUE(converter.YCbCrtoRGB(&descriptor, true));
  EXPECT_EQ(pixel[2], 255);
  EXPECT_EQ(pixel[1], 0);
  EXPECT_EQ(pixel[0], 255);
}

// The promise of the unmasked path, measured on every input: each component
// lies within kUnmaskedBound of the exact value of the conversion's formula
// (saturated to 0..255), so it is one of the two integers nearest to it, and
// no more than kNotNearestShare of them are not the nearest. Prints how far
// off the worst component is and how many are not the nearest integer.
constexpr double kUnmaskedBound = 0.55;
constexpr double kNotNearestShare = 0.006;

TEST(UnmaskedPath, EveryInputWithinTheBoundOfTheExactValue) {
  CColorSpace converter;
  constexpr std::int32_t kSide = 4096;
  std::vector<std::uint8_t> colours(std::size_t{4} << 24);
  for (std::uint32_t colour = 0; colour < (1U << 24); ++colour)
    std::memcpy(&colours[std::size_t{4} * colour], &colour, 4);
  std::vector<std::uint8_t> out(colours.size());
  for (const Conversion& conversion : testing_support::AllConversions()) {
    tColorInterfaceImage src{colours.data(), kSide, kSide, 4 * kSide, conversion.from, nullptr, 0};
    tColorInterfaceImage dst{out.data(), kSide, kSide, 4 * kSide, FORMAT_RGB, nullptr, 0};
    ASSERT_TRUE((converter.*conversion.twoImages)(&src, &dst, false));
    const auto& exact = *conversion.exact;  // component order: byte k is component 2 - k
    double worst = 0.0;
    std::uint64_t notNearest = 0;
    for (std::size_t i = 0; i < colours.size(); i += 4) {
      const double first = colours[i + 2];
      const double second = colours[i + 1];
      const double third = colours[i];
      for (int k = 0; k < 3; ++k) {
        const auto& row = exact[2 - k];
        const double value = ((row[0] * first + row[1] * second) + row[2] * third) + row[3];
        const double distance =
            std::fabs(out[i + static_cast<std::size_t>(k)] - std::fmin(255.0, std::fmax(0.0, value)));
        worst = std::fmax(worst, distance);
        notNearest += distance > 0.5 ? 1 : 0;
      }
    }
    std::printf(
        "%-10s unmasked: worst distance to the exact value %.4f; %llu of %d components (%.3f%%) not the nearest "
        "integer\n",
        conversion.name, worst, static_cast<unsigned long long>(notNearest), 3 << 24,
        100.0 * static_cast<double>(notNearest) / (3 << 24));
    EXPECT_LT(worst, kUnmaskedBound) << conversion.name;
    EXPECT_LT(static_cast<double>(notNearest) / (3 << 24), kNotNearestShare) << conversion.name;
  }
}

}  // namespace
