// The README's short snippets, run: each stands between the lines
// "// README: NAME" and "// README: end of NAME", and ReadmeExample.cmake
// checks that the README shows the same lines.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "Conversions.h"
#include "TestSupport.h"

namespace {

// RGBA rows as libpng hands them over become a descriptor, and the exact
// path through an all-ones mask converts each pixel as the single-pixel
// member does from R, G and B.
TEST(ReadmeSnippets, RgbaRowsThroughTheExactPath) {
  const std::int32_t width = 3;
  const std::int32_t height = 2;
  std::vector<std::uint8_t> rgba = {255, 0, 0, 10, 0,   255, 0, 20, 0, 0,  255, 30,
                                    1,   2, 3, 40, 250, 128, 7, 50, 9, 99, 199, 60};
  const std::vector<std::uint8_t> given = rgba;
  CColorSpace converter;
  // README: rgba-rows
  // rgba: width x height pixels of R, G, B, A bytes, rows 4 * width bytes apart, as libpng hands them over.
  for (std::size_t i = 0; i < rgba.size(); i += 4) std::swap(rgba[i], rgba[i + 2]);  // now B, G, R, A
  tColorInterfaceImage image = {rgba.data(), width, height, 4 * width, FORMAT_RGB, nullptr, 0};
  // README: end of rgba-rows
  for (std::size_t i = 0; i < rgba.size(); i += 4) {
    const std::uint32_t packed = (std::uint32_t{given[i]} << 16) | (std::uint32_t{given[i + 1]} << 8) | given[i + 2];
    ASSERT_EQ(testing_support::PackedAt(&rgba[i]), packed) << "pixel " << i / 4;
    ASSERT_EQ(rgba[i + 3], given[i + 3]) << "pixel " << i / 4;
  }
  // README: exact-path
  std::vector<std::uint8_t> everyPixel(static_cast<std::size_t>(width) * height, 1);
  image.pMask = everyPixel.data();
  image.nMaskStep = width;
  const bool converted = converter.RGBtoYUV(&image, /*bUseMask=*/true);  // every pixel, exactly
  // README: end of exact-path
  ASSERT_TRUE(converted);
  EXPECT_EQ(image.nFormat, FORMAT_YUV);
  for (std::size_t i = 0; i < rgba.size(); i += 4) {
    std::uint32_t pixel = (std::uint32_t{given[i]} << 16) | (std::uint32_t{given[i + 1]} << 8) | given[i + 2];
    converter.RGBtoYUV(pixel);
    EXPECT_EQ(testing_support::PackedAt(&rgba[i]), pixel) << "pixel " << i / 4;
    EXPECT_EQ(rgba[i + 3], given[i + 3]) << "pixel " << i / 4;
  }
}

// The exact path on a whole picture, as the README gives it: an all-ones
// mask converts every colour as the single-pixel members do, in each
// conversion.
TEST(ReadmeSnippets, AllOnesMaskGivesEveryColourTheSinglePixelResult) {
  constexpr std::int32_t kSide = 4096;
  std::vector<std::uint8_t> everyPixel(static_cast<std::size_t>(kSide) * kSide, 1);
  CColorSpace converter;
  for (const auto& conversion : testing_support::AllConversions()) {
    std::vector<std::uint8_t> pixels(std::size_t{4} << 24);
    for (std::uint32_t colour = 0; colour < (1U << 24); ++colour) {
      std::uint8_t* pixel = &pixels[std::size_t{4} * colour];
      pixel[0] = static_cast<std::uint8_t>(colour);
      pixel[1] = static_cast<std::uint8_t>(colour >> 8);
      pixel[2] = static_cast<std::uint8_t>(colour >> 16);
      pixel[3] = static_cast<std::uint8_t>(colour * 7);
    }
    tColorInterfaceImage image = {pixels.data(), kSide, kSide, 4 * kSide, conversion.from, everyPixel.data(), kSide};
    ASSERT_TRUE((converter.*conversion.inPlace)(&image, true)) << conversion.name;
    for (std::uint32_t colour = 0; colour < (1U << 24); ++colour) {
      std::uint32_t expected = colour;
      (converter.*conversion.packed)(expected);
      const std::uint8_t* pixel = &pixels[std::size_t{4} * colour];
      ASSERT_EQ(testing_support::PackedAt(pixel), expected) << conversion.name << " colour " << colour;
      ASSERT_EQ(pixel[3], static_cast<std::uint8_t>(colour * 7)) << conversion.name << " colour " << colour;
    }
  }
}

}  // namespace
