// Single-pixel conversions against an exact integer reference built straight
// from the coefficients' bit patterns, over every 24-bit input.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "Conversions.h"
#include "TestSupport.h"

namespace {

// A single-precision bit pattern times 2^27, as an exact integer. Every
// coefficient used here is a multiple of 2^-27.
constexpr std::int64_t Scaled(std::uint32_t bits) {
  const std::int64_t mantissa = (bits & 0x7FFFFF) | 0x800000;
  const int shift = static_cast<int>((bits >> 23) & 0xFF) - 127 - 23 + 27;
  return shift >= 0 ? mantissa << shift : -1;
}
constexpr std::int64_t kOne = std::int64_t{1} << 27;

// Truncation toward zero of value / 2^27 (integer division does exactly
// that), then clamping to a byte.
constexpr std::uint8_t Truncate(std::int64_t scaled) {
  const std::int64_t value = scaled / kOne;
  return static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

using Triple = std::array<std::uint8_t, 3>;

Triple ReferenceRGBtoYUV(std::int64_t r, std::int64_t g, std::int64_t b) {
  const std::int64_t y = Scaled(0x3E991687) * r + Scaled(0x3F1645A2) * g + Scaled(0x3DE978D5) * b;
  const std::int64_t u = Scaled(0x3F000000) * b - (Scaled(0x3E2CA03C) * r + Scaled(0x3EA9AFE2) * g) + 128 * kOne;
  const std::int64_t v = Scaled(0x3F000000) * r - Scaled(0x3ED65FD9) * g - Scaled(0x3DA6809D) * b + 128 * kOne;
  return {Truncate(y), Truncate(u), Truncate(v)};
}

Triple ReferenceYUVtoRGB(std::int64_t y, std::int64_t u, std::int64_t v) {
  const std::int64_t r = y * kOne + Scaled(0x3FB428F6) * (v - 128);
  const std::int64_t g = y * kOne - Scaled(0x3EB0E560) * (u - 128) - Scaled(0x3F3786C2) * (v - 128);
  const std::int64_t b = y * kOne + Scaled(0x3FE3B646) * (u - 128);
  return {Truncate(r), Truncate(g), Truncate(b)};
}

Triple ReferenceRGBtoYCbCr(std::int64_t r, std::int64_t g, std::int64_t b) {
  const std::int64_t y = Scaled(0x3E839581) * r + Scaled(0x3F010625) * g + Scaled(0x3DC8B439) * b + 16 * kOne;
  const std::int64_t cb = Scaled(0x3EE0C49C) * b - (Scaled(0x3E178D50) * r + Scaled(0x3E94FDF4) * g) + 128 * kOne;
  const std::int64_t cr = Scaled(0x3EE0C49C) * r - Scaled(0x3EBC6A7F) * g - Scaled(0x3D916873) * b + 128 * kOne;
  return {Truncate(y), Truncate(cb), Truncate(cr)};
}

Triple ReferenceYCbCrtoRGB(std::int64_t y, std::int64_t cb, std::int64_t cr) {
  const std::int64_t luma = Scaled(0x3F94FDF4) * (y - 16);
  const std::int64_t r = luma + Scaled(0x3FCC49BA) * (cr - 128);
  const std::int64_t g = luma - Scaled(0x3F5020C5) * (cr - 128) - Scaled(0x3EC8B439) * (cb - 128);
  const std::int64_t b = luma + Scaled(0x40011687) * (cb - 128);
  return {Truncate(r), Truncate(g), Truncate(b)};
}

// The independent references, in the order of AllConversions().
using Reference = Triple (*)(std::int64_t, std::int64_t, std::int64_t);
const Reference kReferences[] = {ReferenceRGBtoYUV, ReferenceYUVtoRGB, ReferenceRGBtoYCbCr, ReferenceYCbCrtoRGB};

class EveryInput : public ::testing::TestWithParam<int> {};

// Both forms, all 2^24 inputs, against the reference; the packed form also
// gets a different top byte each time and must clear it.
TEST_P(EveryInput, BothFormsMatchTheExactReference) {
  const testing_support::Conversion conversion =
      testing_support::AllConversions()[static_cast<std::size_t>(GetParam())];
  const Reference reference = kReferences[GetParam()];
  CColorSpace converter;
  std::uint64_t packedMismatches = 0;
  std::uint64_t componentMismatches = 0;
  for (std::uint32_t input = 0; input < (1U << 24); ++input) {
    const Triple expected = reference(input >> 16, (input >> 8) & 0xFF, input & 0xFF);
    const std::uint32_t expectedWord =
        (std::uint32_t{expected[0]} << 16) | (std::uint32_t{expected[1]} << 8) | expected[2];
    std::uint32_t word = input | ((input * 2654435761U) & 0xFF000000U);
    (converter.*conversion.packed)(word);
    packedMismatches += word != expectedWord;
    Triple components{static_cast<std::uint8_t>(input >> 16), static_cast<std::uint8_t>(input >> 8),
                      static_cast<std::uint8_t>(input)};
    (converter.*conversion.components)(components[0], components[1], components[2]);
    componentMismatches += components != expected;
  }
  EXPECT_EQ(packedMismatches, 0U) << conversion.name;
  EXPECT_EQ(componentMismatches, 0U) << conversion.name;
}

INSTANTIATE_TEST_SUITE_P(PixelConversions, EveryInput, ::testing::Range(0, 4), [](const auto& info) {
  return std::string(testing_support::AllConversions()[static_cast<std::size_t>(info.param)].name);
});

struct Example {
  const char* what;
  void (CColorSpace::*convert)(std::uint32_t&);
  std::uint32_t input;
  std::uint32_t expected;
};

TEST(PixelConversions, KnownValues) {
  const Example examples[] = {
      {"white to YUV: V is 127", &CColorSpace::RGBtoYUV, 0x00FFFFFF, 0x00FF807F},
      {"top byte ignored and cleared", &CColorSpace::RGBtoYUV, 0xFF000000, 0x00008080},
      {"white to YCbCr", &CColorSpace::RGBtoYCbCr, 0x00FFFFFF, 0x00EB8080},
      {"black to YCbCr", &CColorSpace::RGBtoYCbCr, 0x00000000, 0x00108080},
      {"YUV white back", &CColorSpace::YUVtoRGB, 0x00FF807F, 0x00FDFFFF},
      {"YCbCr white back", &CColorSpace::YCbCrtoRGB, 0x00EB8080, 0x00FEFEFE},
      {"YCbCr black back", &CColorSpace::YCbCrtoRGB, 0x00108080, 0x00000000},
      {"YUV zero clamps R and B", &CColorSpace::YUVtoRGB, 0x00000000, 0x00008700},
      {"YCbCr zero clamps", &CColorSpace::YCbCrtoRGB, 0x00000000, 0x00008700},
      {"red to YUV", &CColorSpace::RGBtoYUV, 0x00FF0000, 0x004C55FF},
      {"red to YCbCr", &CColorSpace::RGBtoYCbCr, 0x00FF0000, 0x00515AEF},
      {"green to YUV", &CColorSpace::RGBtoYUV, 0x0000FF00, 0x00952B15},
      {"blue to YCbCr", &CColorSpace::RGBtoYCbCr, 0x000000FF, 0x0028EF6D},
      {"grey 128 to YUV", &CColorSpace::RGBtoYUV, 0x00808080, 0x0080807F},
      {"grey 128 YUV back", &CColorSpace::YUVtoRGB, 0x0080807F, 0x007E8080},
      {"YCbCr 255 clamps to white", &CColorSpace::YCbCrtoRGB, 0x00FF8080, 0x00FFFFFF},
      {"YCbCr (128,255,255) clamps", &CColorSpace::YCbCrtoRGB, 0x0080FFFF, 0x00FF00FF},
  };
  CColorSpace converter;
  for (const Example& example : examples) {
    std::uint32_t pixel = example.input;
    (converter.*example.convert)(pixel);
    EXPECT_EQ(pixel, example.expected) << example.what;
  }
}

TEST(PixelConversions, EveryGreyKeepsItsLevel) {
  CColorSpace converter;
  for (std::uint32_t v = 1; v < 256; ++v) {
    std::uint32_t yuv = v * 0x010101U;
    converter.RGBtoYUV(yuv);
    EXPECT_EQ(yuv, (v << 16) | 0x807FU) << v;
    std::uint32_t ycbcr = v * 0x010101U;
    converter.RGBtoYCbCr(ycbcr);
    EXPECT_EQ(ycbcr & 0xFFFFU, 0x8080U) << v;
  }
}

// With aliased arguments every output is still computed from the original
// inputs, and the write order decides which one survives.
TEST(PixelConversions, AliasedComponentsFollowTheWriteOrder) {
  CColorSpace converter;
  std::uint8_t shared = 255;
  std::uint8_t green = 0;
  converter.RGBtoYUV(shared, green, shared);  // R = B = 255: writes c (V), then a (Y) last
  Triple expected = ReferenceRGBtoYUV(255, 0, 255);
  EXPECT_EQ(shared, expected[0]);
  EXPECT_EQ(green, expected[1]);

  shared = 128;
  std::uint8_t u = 255;
  converter.YCbCrtoRGB(shared, u, shared);  // writes a (R), then c (B) last
  expected = ReferenceYCbCrtoRGB(128, 255, 128);
  EXPECT_EQ(shared, expected[2]);
  EXPECT_EQ(u, expected[1]);

  std::uint8_t all = 200;
  converter.YUVtoRGB(all, all, all);
  EXPECT_EQ(all, ReferenceYUVtoRGB(200, 200, 200)[2]);
  all = 200;
  converter.RGBtoYCbCr(all, all, all);
  EXPECT_EQ(all, ReferenceRGBtoYCbCr(200, 200, 200)[0]);
}

TEST(PixelConversions, InstancesAndAssignmentsBehaveAlike) {
  CColorSpace first;
  CColorSpace second;
  auto* onHeap = new CColorSpace(first);
  second = *onHeap;
  CColorSpace& self = first;
  first = self;
  std::mt19937 random(7);
  for (int i = 0; i < 1000; ++i) {
    const std::uint32_t input = random();
    std::uint32_t a = input;
    std::uint32_t b = input;
    std::uint32_t c = input;
    first.YCbCrtoRGB(a);
    second.YCbCrtoRGB(b);
    onHeap->YCbCrtoRGB(c);
    ASSERT_EQ(a, b);
    ASSERT_EQ(a, c);
  }
  delete onHeap;
}

}  // namespace
