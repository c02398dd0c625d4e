// The generic in-place matrix transform.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "TestSupport.h"

namespace {

using testing_support::TestImage;

constexpr float kIdentity[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};

// Component and memory order of the RGB/YUV matrices, written out here.
constexpr float kRGBtoYUV[3][4] = {
    {0.299F, 0.587F, 0.114F, 0.0F}, {-0.16858F, -0.33142F, 0.5F, 128.0F}, {0.5F, -0.4187F, -0.0813F, 128.0F}};
constexpr float kRGBtoYUVTwist[3][4] = {
    {-0.0813F, -0.4187F, 0.5F, 128.0F}, {0.5F, -0.33142F, -0.16858F, 128.0F}, {0.114F, 0.587F, 0.299F, 0.0F}};
constexpr float kYUVtoRGB[3][4] = {
    {1.0F, 0.0F, 1.4075F, -180.16F}, {1.0F, -0.3455F, -0.7169F, 135.9872F}, {1.0F, 1.779F, 0.0F, -227.712F}};
constexpr float kYUVtoRGBTwist[3][4] = {
    {0.0F, 1.779F, 1.0F, -227.712F}, {-0.7169F, -0.3455F, 1.0F, 135.9872F}, {1.4075F, 0.0F, 1.0F, -180.16F}};

TestImage RandomImage(std::mt19937& random, std::int32_t width, std::int32_t height, std::int32_t format,
                      int maskKind) {
  TestImage image(width, height, 4 * width + 8, format);
  image.FillRandom(random);
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(width * height));
  for (auto& m : mask) m = static_cast<std::uint8_t>(maskKind == 1 ? 1 : random() % 2);
  image.SetMask(width, mask);
  return image;
}

TEST(LinearInPlace, IdentityKeepsSelectedPixelsAndSetsYUV) {
  CColorSpace converter;
  std::mt19937 random(5);
  for (bool useMask : {true, false}) {
    TestImage image = RandomImage(random, 37, 5, FORMAT_RGB, 0);
    const auto before = image.Bytes();
    tColorInterfaceImage descriptor = image.Descriptor();
    ASSERT_TRUE(testing_support::LinearInPlace(converter, &descriptor, kIdentity, kIdentity, useMask));
    EXPECT_EQ(descriptor.nFormat, FORMAT_YUV);
    EXPECT_EQ(image.Bytes(), before);
  }
}

// With a conversion's matrices the masked transform is that conversion's
// masked path, clamping included; only the format code differs.
TEST(LinearInPlace, MaskedMatchesTheMaskedConversions) {
  CColorSpace converter;
  std::mt19937 random(6);
  struct Case {
    const float (*matrix)[4];
    const float (*twist)[4];
    std::int32_t format;
    bool (CColorSpace::*convert)(tColorInterfaceImage*, bool);
  };
  const Case cases[] = {{kRGBtoYUV, kRGBtoYUVTwist, FORMAT_RGB, &CColorSpace::RGBtoYUV},
                        {kYUVtoRGB, kYUVtoRGBTwist, FORMAT_YUV, &CColorSpace::YUVtoRGB}};
  for (const Case& c : cases) {
    TestImage viaTransform = RandomImage(random, 300, 40, c.format, 0);
    TestImage viaConversion = viaTransform;
    tColorInterfaceImage transformed = viaTransform.Descriptor();
    tColorInterfaceImage converted = viaConversion.Descriptor();
    ASSERT_TRUE(testing_support::LinearInPlace(converter, &transformed, c.matrix, c.twist, true));
    ASSERT_TRUE((converter.*c.convert)(&converted, true));
    EXPECT_EQ(viaTransform.Bytes(), viaConversion.Bytes());
    EXPECT_EQ(transformed.nFormat, FORMAT_YUV);
  }
  // YUV (0, 0, 0) clamps to (0, 135, 0) rather than wrapping around.
  TestImage black(1, 1, 4, FORMAT_YUV);
  std::memset(black.Pixel(0, 0), 0, 4);
  black.SetMask(1, {1});
  tColorInterfaceImage descriptor = black.Descriptor();
  ASSERT_TRUE(testing_support::LinearInPlace(converter, &descriptor, kYUVtoRGB, kYUVtoRGBTwist, true));
  EXPECT_EQ(black.Pixel(0, 0)[2], 0);
  EXPECT_EQ(black.Pixel(0, 0)[1], 135);
  EXPECT_EQ(black.Pixel(0, 0)[0], 0);
}

// A matrix of constants alone stores the constant: truncated toward zero and
// clamped, not-a-number as 0, on the masked path.
TEST(LinearInPlace, MaskedClampsOutOfRangeSums) {
  CColorSpace converter;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float infinity = std::numeric_limits<float>::infinity();
  const struct {
    float sum;
    std::uint8_t stored;
  } cases[] = {{-0.5F, 0}, {-1.5F, 0},      {255.9F, 255},  {256.0F, 255},  {1e30F, 255}, {-1e30F, 0},
               {nan, 0},   {infinity, 255}, {-infinity, 0}, {127.99F, 127}, {0.999F, 0},  {1.0F, 1}};
  for (const auto& c : cases) {
    const float matrix[3][4] = {{0, 0, 0, c.sum}, {0, 0, 0, c.sum}, {0, 0, 0, c.sum}};
    TestImage image(3, 1, 12, FORMAT_RGB);
    std::memset(image.Pixel(0, 0), 77, 12);
    image.SetMask(3, {1, 1, 1});
    tColorInterfaceImage descriptor = image.Descriptor();
    ASSERT_TRUE(testing_support::LinearInPlace(converter, &descriptor, matrix, matrix, true));
    for (int c2 = 0; c2 < 3; ++c2) {
      EXPECT_EQ(image.Pixel(0, c2)[0], c.stored) << c.sum;
      EXPECT_EQ(image.Pixel(0, c2)[2], c.stored) << c.sum;
      EXPECT_EQ(image.Pixel(0, c2)[3], 77);
    }
  }
  // Overflowing weights with a non-representable matrix still clamp.
  const float huge[3][4] = {{1e20F, -1e20F, 0, 0}, {infinity, 0, 0, 0}, {0, 0, -infinity, 0}};
  TestImage image(2, 1, 8, FORMAT_RGB);
  std::memset(image.Pixel(0, 0), 9, 8);
  image.SetMask(2, {1, 1});
  tColorInterfaceImage descriptor = image.Descriptor();
  ASSERT_TRUE(testing_support::LinearInPlace(converter, &descriptor, huge, huge, true));
  EXPECT_EQ(image.Pixel(0, 0)[2], 0);    // 1e20*9 - 1e20*9 = 0
  EXPECT_EQ(image.Pixel(0, 0)[1], 255);  // +inf
  EXPECT_EQ(image.Pixel(0, 0)[0], 0);    // -inf
}

TEST(LinearInPlace, UnmaskedIsWithinOneOfTheExactSaturatedValue) {
  CColorSpace converter;
  std::mt19937 random(8);
  std::uniform_real_distribution<float> weight(-3.0F, 3.0F);
  std::uniform_real_distribution<float> constant(-300.0F, 300.0F);
  for (int trial = 0; trial < 20; ++trial) {
    float twist[3][4];
    for (auto& row : twist) {
      for (int j = 0; j < 3; ++j) row[j] = weight(random);
      row[3] = constant(random);
    }
    if (trial == 0) std::memcpy(twist, kYUVtoRGBTwist, sizeof twist);
    TestImage image = RandomImage(random, 29, 3, FORMAT_RGB, 0);
    TestImage before = image;
    tColorInterfaceImage descriptor = image.Descriptor();
    ASSERT_TRUE(testing_support::LinearInPlace(converter, &descriptor, nullptr, twist, false));
    EXPECT_EQ(descriptor.nFormat, FORMAT_YUV);
    for (std::int32_t r = 0; r < 3; ++r) {
      for (std::int32_t c = 0; c < 29; ++c) {
        const std::uint8_t* in = before.Pixel(r, c);
        const std::uint8_t* out = image.Pixel(r, c);
        for (int k = 0; k < 3; ++k) {
          const double exact =
              double{twist[k][0]} * in[0] + double{twist[k][1]} * in[1] + double{twist[k][2]} * in[2] + twist[k][3];
          ASSERT_LT(std::fabs(out[k] - std::fmin(255.0, std::fmax(0.0, exact))), 1.0);
        }
        ASSERT_EQ(out[3], in[3]);
      }
    }
  }
}

TEST(LinearInPlace, FailuresWriteNothing) {
  CColorSpace converter;
  std::mt19937 random(9);
  struct Case {
    const char* what;
    bool useMask;
    void (*change)(tColorInterfaceImage&);
  };
  const Case cases[] = {
      {"null pixels", false, [](tColorInterfaceImage& d) { d.pData = nullptr; }},
      {"width 0", true, [](tColorInterfaceImage& d) { d.nWidth = 0; }},
      {"step too small", false, [](tColorInterfaceImage& d) { d.nStep = 4 * d.nWidth - 1; }},
      {"format 0", false, [](tColorInterfaceImage& d) { d.nFormat = 0; }},
      {"format 4097", true, [](tColorInterfaceImage& d) { d.nFormat = 4097; }},
      {"null mask", true, [](tColorInterfaceImage& d) { d.pMask = nullptr; }},
      {"mask step w-1", true, [](tColorInterfaceImage& d) { d.nMaskStep = d.nWidth - 1; }},
      {"negative mask step", true, [](tColorInterfaceImage& d) { d.nMaskStep = -d.nWidth; }},
  };
  for (const Case& c : cases) {
    TestImage image = RandomImage(random, 10, 3, FORMAT_RGB, 1);
    const auto pixels = image.Bytes();
    const auto mask = image.MaskBytes();
    tColorInterfaceImage descriptor = image.Descriptor();
    c.change(descriptor);
    const tColorInterfaceImage before = descriptor;
    EXPECT_FALSE(testing_support::LinearInPlace(converter, &descriptor, kIdentity, kIdentity, c.useMask)) << c.what;
    EXPECT_TRUE(testing_support::SameDescriptor(before, descriptor)) << c.what;
    EXPECT_EQ(image.Bytes(), pixels) << c.what;
    EXPECT_EQ(image.MaskBytes(), mask) << c.what;
  }
  EXPECT_FALSE(testing_support::LinearInPlace(converter, nullptr, kIdentity, kIdentity, false));
  TestImage image = RandomImage(random, 4, 4, FORMAT_RGB, 1);
  tColorInterfaceImage descriptor = image.Descriptor();
  EXPECT_FALSE(testing_support::LinearInPlace(converter, &descriptor, nullptr, kIdentity, true));
  EXPECT_FALSE(testing_support::LinearInPlace(converter, &descriptor, kIdentity, nullptr, false));
  EXPECT_EQ(descriptor.nFormat, FORMAT_RGB);
}

// Each path reads its own matrix only, and the unmasked path not the mask:
// a null in what the chosen path does not read is no failure.
TEST(LinearInPlace, OnlyTheChosenPathsMatrixIsRead) {
  CColorSpace converter;
  std::mt19937 random(10);
  TestImage masked = RandomImage(random, 5, 2, FORMAT_RGB, 1);
  tColorInterfaceImage maskedDescriptor = masked.Descriptor();
  EXPECT_TRUE(testing_support::LinearInPlace(converter, &maskedDescriptor, kIdentity, nullptr, true));
  EXPECT_EQ(maskedDescriptor.nFormat, FORMAT_YUV);
  TestImage unmasked = RandomImage(random, 5, 2, FORMAT_RGB, 1);
  tColorInterfaceImage unmaskedDescriptor = unmasked.Descriptor();
  unmaskedDescriptor.pMask = nullptr;
  EXPECT_TRUE(testing_support::LinearInPlace(converter, &unmaskedDescriptor, nullptr, kIdentity, false));
  EXPECT_EQ(unmaskedDescriptor.nFormat, FORMAT_YUV);
}

}  // namespace
