// Whole-image conversions on both paths, with the single-pixel conversions
// as the yardstick for the masked path and the exact matrix value for the
// unmasked one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "TestSupport.h"

namespace {

using testing_support::PackedAt;
using testing_support::TestImage;

struct Conversion {
  const char* name;
  std::int32_t sourceFormat;
  std::int32_t targetFormat;
  bool (CColorSpace::*twoImages)(const tColorInterfaceImage*, tColorInterfaceImage*, bool);
  bool (CColorSpace::*inPlace)(tColorInterfaceImage*, bool);
  void (CColorSpace::*pixel)(std::uint32_t&);
  float twist[3][4];  // memory order, written out independently of the library
};

void PrintTo(const Conversion& conversion, std::ostream* out) { *out << conversion.name; }

const Conversion kConversions[] = {
    {"RGBtoYUV",
     FORMAT_RGB,
     FORMAT_YUV,
     &CColorSpace::RGBtoYUV,
     &CColorSpace::RGBtoYUV,
     &CColorSpace::RGBtoYUV,
     {{-0.0813F, -0.4187F, 0.5F, 128.0F}, {0.5F, -0.33142F, -0.16858F, 128.0F}, {0.114F, 0.587F, 0.299F, 0.0F}}},
    {"YUVtoRGB",
     FORMAT_YUV,
     FORMAT_RGB,
     &CColorSpace::YUVtoRGB,
     &CColorSpace::YUVtoRGB,
     &CColorSpace::YUVtoRGB,
     {{0.0F, 1.779F, 1.0F, -227.712F}, {-0.7169F, -0.3455F, 1.0F, 135.9872F}, {1.4075F, 0.0F, 1.0F, -180.16F}}},
    {"RGBtoYCbCr",
     FORMAT_RGB,
     FORMAT_YCBCR,
     &CColorSpace::RGBtoYCbCr,
     &CColorSpace::RGBtoYCbCr,
     &CColorSpace::RGBtoYCbCr,
     {{-0.071F, -0.368F, 0.439F, 128.0F}, {0.439F, -0.291F, -0.148F, 128.0F}, {0.098F, 0.504F, 0.257F, 16.0F}}},
    {"YCbCrtoRGB",
     FORMAT_YCBCR,
     FORMAT_RGB,
     &CColorSpace::YCbCrtoRGB,
     &CColorSpace::YCbCrtoRGB,
     &CColorSpace::YCbCrtoRGB,
     {{0.0F, 2.017F, 1.164F, -276.8F}, {-0.813F, -0.392F, 1.164F, 135.616F}, {1.596F, 0.0F, 1.164F, -222.912F}}},
};

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
                       conversion.sourceFormat);
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
      EXPECT_EQ(dst.nFormat, conversion.targetFormat);
      EXPECT_TRUE(testing_support::SameDescriptor(src, srcDescriptor));
      EXPECT_EQ(source.Bytes(), sourceBefore.Bytes());
      EXPECT_TRUE(destination.GuardsIntact());
      for (std::int32_t r = 0; r < shape.height; ++r) {
        for (std::int32_t c = 0; c < shape.width; ++c) {
          if (source.MaskAt(r, c) == 0) continue;
          std::uint32_t pixel = PackedAt(source.Pixel(r, c));
          (converter.*conversion.pixel)(pixel);
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
      TestImage image(shape.width, shape.height, step, conversion.sourceFormat);
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
      EXPECT_EQ(inPlace.nFormat, conversion.targetFormat);
      EXPECT_EQ(image.Bytes(), result.Bytes()) << conversion.name << " width " << shape.width;
      // The same descriptor as source and destination behaves as in place.
      TestImage again = copy;
      tColorInterfaceImage same = again.Descriptor();
      ASSERT_TRUE((converter.*conversion.twoImages)(&same, &same, useMask));
      EXPECT_EQ(again.Bytes(), image.Bytes());
    }
  }
}

// Unmasked path: every component within one of the exact, saturated value of
// the memory-order matrix; byte 3 and the guard bands untouched.
TEST_P(ImageConversion, UnmaskedIsWithinOneOfTheExactValue) {
  const Conversion& conversion = GetParam();
  CColorSpace converter;
  std::mt19937 random(3);
  for (const Shape& shape : kShapes) {
    TestImage source(shape.width, shape.height, StepOf(shape, shape.sourcePadding, shape.sourceBottomUp),
                     conversion.sourceFormat);
    TestImage destination(shape.width, shape.height, StepOf(shape, shape.destinationPadding, shape.destinationBottomUp),
                          FORMAT_RGB);
    source.FillRandom(random);
    destination.FillRandom(random);
    TestImage before = destination;
    tColorInterfaceImage src = source.Descriptor();
    tColorInterfaceImage dst = destination.Descriptor();
    ASSERT_TRUE((converter.*conversion.twoImages)(&src, &dst, false));
    EXPECT_EQ(dst.nFormat, conversion.targetFormat);
    EXPECT_TRUE(destination.GuardsIntact());
    for (std::int32_t r = 0; r < shape.height; ++r) {
      for (std::int32_t c = 0; c < shape.width; ++c) {
        const std::uint8_t* in = source.Pixel(r, c);
        const std::uint8_t* out = destination.Pixel(r, c);
        for (int k = 0; k < 3; ++k) {
          const double exact = double{conversion.twist[k][0]} * in[0] + double{conversion.twist[k][1]} * in[1] +
                               double{conversion.twist[k][2]} * in[2] + conversion.twist[k][3];
          const double saturated = std::fmin(255.0, std::fmax(0.0, exact));
          ASSERT_LT(std::fabs(out[k] - saturated), 1.0) << conversion.name << " component " << k;
        }
        ASSERT_EQ(out[3], before.Pixel(r, c)[3]);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllConversions, ImageConversion, ::testing::ValuesIn(kConversions),
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

}  // namespace
