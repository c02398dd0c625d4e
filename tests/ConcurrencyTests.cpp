// Several threads converting disjoint strips of one image, each through its
// own descriptor, give exactly what one thread gives for the whole image.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "Conversions.h"
#include "TestSupport.h"

namespace {

constexpr std::int32_t kWidth = 203;  // not a multiple of any vector width
constexpr std::int32_t kHeight = 64;
constexpr std::int32_t kStep = 4 * kWidth + 12;
constexpr int kThreads = 4;

using testing_support::Conversion;

struct Images {
  std::vector<std::uint8_t> source;
  std::vector<std::uint8_t> destination;
  std::vector<std::uint8_t> mask;
};

Images MakeImages(std::mt19937& random) {
  Images images{std::vector<std::uint8_t>(static_cast<std::size_t>(kStep) * kHeight),
                std::vector<std::uint8_t>(static_cast<std::size_t>(kStep) * kHeight),
                std::vector<std::uint8_t>(static_cast<std::size_t>(kWidth) * kHeight)};
  for (auto& b : images.source) b = static_cast<std::uint8_t>(random());
  for (auto& b : images.destination) b = static_cast<std::uint8_t>(random());
  for (auto& b : images.mask) b = static_cast<std::uint8_t>(random() % 3 == 0 ? 0 : 1);
  return images;
}

// A strip of rows [row, row + rows) and columns [column, column + columns).
struct Strip {
  std::int32_t row;
  std::int32_t rows;
  std::int32_t column;
  std::int32_t columns;
};

tColorInterfaceImage Describe(std::vector<std::uint8_t>& pixels, std::vector<std::uint8_t>& mask, const Strip& strip,
                              std::int32_t format) {
  return {pixels.data() + static_cast<std::ptrdiff_t>(strip.row) * kStep + std::ptrdiff_t{4} * strip.column,
          strip.columns,
          strip.rows,
          kStep,
          format,
          mask.data() + static_cast<std::ptrdiff_t>(strip.row) * kWidth + strip.column,
          kWidth};
}

void Convert(Images& images, const Conversion& conversion, bool inPlace, bool useMask, const Strip& strip) {
  CColorSpace converter;  // each thread its own object, as a host would
  tColorInterfaceImage source = Describe(images.source, images.mask, strip, conversion.from);
  if (inPlace) {
    ASSERT_TRUE((converter.*conversion.inPlace)(&source, useMask));
  } else {
    tColorInterfaceImage destination = Describe(images.destination, images.mask, strip, FORMAT_RGB);
    ASSERT_TRUE((converter.*conversion.twoImages)(&source, &destination, useMask));
  }
}

std::vector<Strip> Strips(bool byColumns) {
  std::vector<Strip> strips;
  for (int t = 0; t < kThreads; ++t) {
    if (byColumns) {
      const std::int32_t first = kWidth * t / kThreads;
      strips.push_back({0, kHeight, first, kWidth * (t + 1) / kThreads - first});
    } else {
      const std::int32_t first = kHeight * t / kThreads;
      strips.push_back({first, kHeight * (t + 1) / kThreads - first, 0, kWidth});
    }
  }
  return strips;
}

TEST(Concurrency, StripsOnThreadsEqualOneThread) {
  std::mt19937 random(21);
  for (const Conversion& conversion : testing_support::AllConversions()) {
    for (bool inPlace : {false, true}) {
      for (bool useMask : {false, true}) {
        for (bool byColumns : {false, true}) {
          const Images original = MakeImages(random);
          Images single = original;
          Convert(single, conversion, inPlace, useMask, {0, kHeight, 0, kWidth});
          Images threaded = original;
          std::vector<std::thread> threads;
          for (const Strip& strip : Strips(byColumns)) {
            threads.emplace_back([&threaded, &conversion, inPlace, useMask, strip] {
              Convert(threaded, conversion, inPlace, useMask, strip);
            });
          }
          for (auto& thread : threads) thread.join();
          EXPECT_EQ(threaded.source, single.source);
          EXPECT_EQ(threaded.destination, single.destination);
        }
      }
    }
  }
}

// Complementary masks on the same pixels at the same time: each call writes
// only the pixels it selects, so neither undoes the other's work.
TEST(Concurrency, ComplementaryMasksOnOneImage) {
#if defined(__SANITIZE_THREAD__)
  // The vector kernels load whole groups of pixels, including neighbours the
  // other call is writing; they never store those back, but the race
  // detector sees the loads.
  GTEST_SKIP() << "group loads overlap the other thread's pixels";
#endif
  std::mt19937 random(22);
  Images images = MakeImages(random);
  std::vector<std::uint8_t> inverse(images.mask.size());
  for (std::size_t i = 0; i < inverse.size(); ++i) inverse[i] = images.mask[i] == 0 ? 1 : 0;
  Images expected = images;
  std::vector<std::uint8_t> all(images.mask.size(), 1);
  {
    CColorSpace converter;
    tColorInterfaceImage whole = Describe(expected.source, all, {0, kHeight, 0, kWidth}, FORMAT_RGB);
    ASSERT_TRUE(converter.RGBtoYCbCr(&whole, true));
  }
  std::thread first([&] {
    CColorSpace converter;
    tColorInterfaceImage part = Describe(images.source, images.mask, {0, kHeight, 0, kWidth}, FORMAT_RGB);
    ASSERT_TRUE(converter.RGBtoYCbCr(&part, true));
  });
  std::thread second([&] {
    CColorSpace converter;
    tColorInterfaceImage part = Describe(images.source, inverse, {0, kHeight, 0, kWidth}, FORMAT_RGB);
    ASSERT_TRUE(converter.RGBtoYCbCr(&part, true));
  });
  first.join();
  second.join();
  EXPECT_EQ(images.source, expected.source);
}

TEST(Concurrency, SinglePixelCallsOnThreads) {
  std::vector<std::uint32_t> expected(1 << 16);
  CColorSpace converter;
  for (std::uint32_t i = 0; i < expected.size(); ++i) {
    expected[i] = i * 257U;
    converter.YCbCrtoRGB(expected[i]);
  }
  std::vector<std::uint32_t> results(expected.size());
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&results, t] {
      CColorSpace own;
      for (std::size_t i = static_cast<std::size_t>(t); i < results.size(); i += kThreads) {
        std::uint32_t pixel = static_cast<std::uint32_t>(i) * 257U;
        own.YCbCrtoRGB(pixel);
        results[i] = pixel;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(results, expected);
}

}  // namespace
