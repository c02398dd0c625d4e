// Chroma resampling: where each siting puts the samples, one rounding, round
// trips at every size within exact-size buffers, and ffmpeg's interpolation
// of the same plane.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "formats/ChromaSampling.h"

namespace {

using cstool::ChromaSampling;
using cstool::ChromaSiting;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kComponent = 1;

// 4-byte pixels whose byte kComponent is value(x, y); the other bytes vary
// on their own, so that reading a wrong byte shows.
template <typename Value>
Bytes MakePixels(std::size_t width, std::size_t height, Value value) {
  Bytes pixels(4 * width * height);
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const std::size_t x = i / 4 % width;
    const std::size_t y = i / 4 / width;
    pixels[i] = i % 4 == kComponent ? value(x, y) : static_cast<std::uint8_t>(x * 37 + y * 11 + i % 4 * 71);
  }
  return pixels;
}

// Buffers of exactly the plane's or the picture's size, so that the address
// sanitizer sees any byte read or written beyond them.
Bytes Downsample(const Bytes& pixels, std::size_t width, std::size_t height, ChromaSampling sampling,
                 ChromaSiting siting) {
  const std::size_t chromaWidth = cstool::ChromaWidth(width, sampling);
  Bytes plane(chromaWidth * cstool::ChromaHeight(height, sampling));
  EXPECT_TRUE(cstool::DownsampleChroma(pixels.data(), 4 * width, width, height, kComponent, sampling, siting,
                                       plane.data(), chromaWidth));
  return plane;
}

Bytes Upsample(const Bytes& plane, std::size_t width, std::size_t height, ChromaSampling sampling,
               ChromaSiting siting) {
  Bytes picture(width * height);
  cstool::ChromaUpsampler upsampler(plane.data(), cstool::ChromaWidth(width, sampling), width, height, sampling,
                                    siting);
  for (std::size_t y = 0; y < height; ++y) upsampler.Row(y, picture.data() + y * width);
  return picture;
}

Bytes TwoRows(const Bytes& row) {
  Bytes rows = row;
  rows.insert(rows.end(), row.begin(), row.end());
  return rows;
}

Bytes FirstColumn(const Bytes& picture, std::size_t width) {
  Bytes column;
  for (std::size_t i = 0; i < picture.size(); i += width) column.push_back(picture[i]);
  return column;
}

struct Mode {
  ChromaSampling sampling;
  ChromaSiting siting;
};
// Every mode that is written as well as read.
constexpr Mode kWritten[] = {{ChromaSampling::k420, ChromaSiting::kCenter},
                             {ChromaSampling::k420, ChromaSiting::kLeft},
                             {ChromaSampling::k422, ChromaSiting::kCenter},
                             {ChromaSampling::k444, ChromaSiting::kCenter}};

TEST(ChromaSize, OddSidesRoundUpAndMonochromeHasNoPlane) {
  EXPECT_EQ(cstool::ChromaWidth(5, ChromaSampling::k420), 3U);
  EXPECT_EQ(cstool::ChromaHeight(5, ChromaSampling::k420), 3U);
  EXPECT_EQ(cstool::ChromaWidth(5, ChromaSampling::k422), 3U);
  EXPECT_EQ(cstool::ChromaHeight(5, ChromaSampling::k422), 5U);
  EXPECT_EQ(cstool::ChromaWidth(5, ChromaSampling::k444), 5U);
  EXPECT_EQ(cstool::ChromaWidth(5, ChromaSampling::kMono) + cstool::ChromaHeight(5, ChromaSampling::kMono), 0U);
}

// Columns 0 to 2 hold 0, columns 3 on 100. Centre samples average column
// pairs (0+100)/2 = 50 at the step; left samples weigh columns 1, 2, 3 as
// 1, 2, 1, which gives 25. Reading back, centre columns take 3/4 and 1/4 of
// their two nearest samples (x = 1: 50/4 = 12.5, up to 13); co-sited even
// columns take their sample and odd ones the mean of two.
TEST(ChromaSiting, AColumnStepLandsWhereEachSitingPutsTheSamples) {
  constexpr std::size_t kWidth = 8;
  constexpr std::size_t kHeight = 2;
  const Bytes pixels = MakePixels(kWidth, kHeight, [](std::size_t x, std::size_t) { return x < 3 ? 0 : 100; });

  const Bytes centre = Downsample(pixels, kWidth, kHeight, ChromaSampling::k420, ChromaSiting::kCenter);
  EXPECT_EQ(centre, (Bytes{0, 50, 100, 100}));
  EXPECT_EQ(Upsample(centre, kWidth, kHeight, ChromaSampling::k420, ChromaSiting::kCenter),
            TwoRows({0, 13, 38, 63, 88, 100, 100, 100}));

  const Bytes left = Downsample(pixels, kWidth, kHeight, ChromaSampling::k420, ChromaSiting::kLeft);
  EXPECT_EQ(left, (Bytes{0, 25, 100, 100}));
  const Bytes cosited = TwoRows({0, 13, 25, 63, 100, 100, 100, 100});
  EXPECT_EQ(Upsample(left, kWidth, kHeight, ChromaSampling::k420, ChromaSiting::kLeft), cosited);
  EXPECT_EQ(Upsample(left, kWidth, kHeight, ChromaSampling::k420, ChromaSiting::kTopLeft), cosited);

  const Bytes row = Downsample(pixels, kWidth, kHeight, ChromaSampling::k422, ChromaSiting::kCenter);
  EXPECT_EQ(row, (Bytes{0, 25, 100, 100, 0, 25, 100, 100}));
  EXPECT_EQ(Upsample(row, kWidth, kHeight, ChromaSampling::k422, ChromaSiting::kCenter), cosited);
}

// Rows 0 to 2 hold 0, rows 3 on 100. Centre and left 4:2:0 samples both sit
// halfway between two rows; top-left ones on the even row, so odd rows read
// the mean of two; 4:2:2 keeps every row.
TEST(ChromaSiting, ARowStepLandsWhereEachSitingPutsTheSamples) {
  constexpr std::size_t kWidth = 2;
  constexpr std::size_t kHeight = 8;
  const Bytes pixels = MakePixels(kWidth, kHeight, [](std::size_t, std::size_t y) { return y < 3 ? 0 : 100; });
  const Bytes between{0, 13, 38, 63, 88, 100, 100, 100};
  for (const ChromaSiting siting : {ChromaSiting::kCenter, ChromaSiting::kLeft}) {
    const Bytes plane = Downsample(pixels, kWidth, kHeight, ChromaSampling::k420, siting);
    EXPECT_EQ(plane, (Bytes{0, 50, 100, 100}));
    EXPECT_EQ(FirstColumn(Upsample(plane, kWidth, kHeight, ChromaSampling::k420, siting), kWidth), between);
  }
  EXPECT_EQ(
      FirstColumn(Upsample({0, 50, 100, 100}, kWidth, kHeight, ChromaSampling::k420, ChromaSiting::kTopLeft), kWidth),
      (Bytes{0, 25, 50, 75, 100, 100, 100, 100}));
  const Bytes rows = Downsample(pixels, kWidth, kHeight, ChromaSampling::k422, ChromaSiting::kCenter);
  EXPECT_EQ(FirstColumn(Upsample(rows, kWidth, kHeight, ChromaSampling::k422, ChromaSiting::kCenter), kWidth),
            (Bytes{0, 0, 0, 100, 100, 100, 100, 100}));
}

// Rounding each direction on its own would give 1 in both cases.
TEST(ChromaSiting, FiltersRoundOnceAtTheEnd) {
  // Left, writing: the top row's [1 2 1] sum is 2 (0.5 after /4), the
  // bottom row's 0; 2/8 rounds to 0.
  const Bytes pixels = MakePixels(2, 2, [](std::size_t x, std::size_t y) { return x == 1 && y == 0 ? 2 : 0; });
  EXPECT_EQ(Downsample(pixels, 2, 2, ChromaSampling::k420, ChromaSiting::kLeft), Bytes{0});
  // Centre, reading: pixel (1, 1) weighs the top right sample 3/16, so 2
  // gives 6/16, which rounds to 0; pixel (2, 1) weighs it 9/16: 18/16 is 1.
  const Bytes picture = Upsample({0, 2, 0, 0}, 4, 4, ChromaSampling::k420, ChromaSiting::kCenter);
  EXPECT_EQ(picture[1 * 4 + 1], 0);
  EXPECT_EQ(picture[1 * 4 + 2], 1);
}

TEST(ChromaSiting, TopLeftIsReadButNotWritten) {
  const Bytes pixels = MakePixels(4, 4, [](std::size_t, std::size_t) { return 9; });
  Bytes plane(4, 7);
  EXPECT_FALSE(cstool::DownsampleChroma(pixels.data(), 16, 4, 4, kComponent, ChromaSampling::k420,
                                        ChromaSiting::kTopLeft, plane.data(), 2));
  EXPECT_EQ(plane, Bytes(4, 7));
}

// Constant planes survive exactly at every size, odd ones included; the
// exact-size buffers let the address sanitizer check every access.
TEST(ChromaRoundTrip, ConstantsComeBackExactlyAtEverySize) {
  const std::pair<std::size_t, std::size_t> sizes[] = {{1, 1}, {1, 6}, {6, 1}, {2, 2}, {3, 3}, {5, 7}, {7, 5}};
  for (const auto& [width, height] : sizes) {
    const Bytes pixels = MakePixels(width, height, [](std::size_t, std::size_t) { return 201; });
    for (const Mode mode : kWritten) {
      const Bytes plane = Downsample(pixels, width, height, mode.sampling, mode.siting);
      EXPECT_EQ(Upsample(plane, width, height, mode.sampling, mode.siting), Bytes(width * height, 201))
          << width << "x" << height;
      if (mode.sampling == ChromaSampling::k420 && mode.siting == ChromaSiting::kLeft) {
        EXPECT_EQ(Upsample(plane, width, height, ChromaSampling::k420, ChromaSiting::kTopLeft),
                  Bytes(width * height, 201));
      }
    }
    EXPECT_TRUE(Downsample(pixels, width, height, ChromaSampling::kMono, ChromaSiting::kCenter).empty());
    EXPECT_EQ(Upsample({}, width, height, ChromaSampling::kMono, ChromaSiting::kCenter), Bytes(width * height, 128));
  }
}

// A smooth picture (steps of 3 across, a curve down) comes back within 1
// inside a one-pixel border, where reading with the other 4:2:0 siting is 2
// off; the border, where edges repeat the last sample, within 5 (measured: 5,
// at the corner of the left siting's 40x32); 4:4:4 exactly.
TEST(ChromaRoundTrip, SmoothPicturesComeBackClose) {
  const auto smooth = [](std::size_t x, std::size_t y) { return static_cast<std::uint8_t>(10 + 3 * x + y * y / 16); };
  for (const auto& [width, height] : {std::pair<std::size_t, std::size_t>{40, 32}, {33, 17}}) {
    const Bytes pixels = MakePixels(width, height, smooth);
    for (const Mode mode : kWritten) {
      const Bytes picture = Upsample(Downsample(pixels, width, height, mode.sampling, mode.siting), width, height,
                                     mode.sampling, mode.siting);
      const int bound = mode.sampling == ChromaSampling::k444 ? 0 : 1;
      for (std::size_t i = 0; i < picture.size(); ++i) {
        const std::size_t x = i % width;
        const std::size_t y = i / width;
        const bool border = x == 0 || y == 0 || x + 1 == width || y + 1 == height;
        EXPECT_LE(std::abs(picture[i] - smooth(x, y)), border ? 5 * bound : bound)
            << width << "x" << height << " at " << x << "," << y;
      }
    }
  }
}

// The 4:2:0 upsampler keeps two interpolated plane rows; rows asked for
// from the bottom up must read the right ones too.
TEST(ChromaRoundTrip, RowsInAnyOrderEqualRowsInOrder) {
  constexpr std::size_t kWidth = 9;
  constexpr std::size_t kHeight = 11;
  constexpr std::size_t kPlaneWidth = 5;
  Bytes plane(kPlaneWidth * 6);
  for (std::size_t i = 0; i < plane.size(); ++i) plane[i] = static_cast<std::uint8_t>(i * 97 % 251);
  for (const ChromaSiting siting : {ChromaSiting::kCenter, ChromaSiting::kLeft, ChromaSiting::kTopLeft}) {
    const Bytes inOrder = Upsample(plane, kWidth, kHeight, ChromaSampling::k420, siting);
    cstool::ChromaUpsampler upsampler(plane.data(), kPlaneWidth, kWidth, kHeight, ChromaSampling::k420, siting);
    Bytes row(kWidth);
    for (std::size_t y = kHeight; y-- > 0;) {
      upsampler.Row(y, row.data());
      EXPECT_EQ(row, Bytes(inOrder.begin() + static_cast<std::ptrdiff_t>(y * kWidth),
                           inOrder.begin() + static_cast<std::ptrdiff_t>((y + 1) * kWidth)))
          << "row " << y;
    }
  }
}

// What a shell command writes to its standard output.
Bytes Output(const std::string& command) {
  Bytes output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  for (int c = std::fgetc(pipe); c != EOF; c = std::fgetc(pipe)) output.push_back(static_cast<std::uint8_t>(c));
  ::pclose(pipe);
  return output;
}

// ffmpeg's bilinear scaler brings a blurred test picture's 4:2:0 chroma to
// 4:4:4 as the centre siting places it. Measured over both planes with
// ffmpeg 5.1: no difference at all (reading with the left siting instead
// differs by 0.92 on average, at most 20); the bounds leave room for another
// version's rounding.
TEST(ChromaAgainstFfmpeg, CentreMatchesItsBilinearInterpolation) {
  if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  constexpr std::size_t kWidth = 320;
  constexpr std::size_t kHeight = 240;
  const std::string source =
      "ffmpeg -v error -f lavfi -i testsrc2=size=320x240 -frames:v 1 "
      "-vf format=gbrp,gblur=sigma=3,format=yuv420p -f rawvideo -";
  const Bytes frame420 = Output(source);
  const Bytes frame444 = Output(source +
                                " | ffmpeg -v error -f rawvideo -pix_fmt yuv420p -s 320x240 -i - "
                                "-sws_flags bilinear+accurate_rnd+full_chroma_int -pix_fmt yuv444p -f rawvideo -");
  constexpr std::size_t kLuma = kWidth * kHeight;
  constexpr std::size_t kChroma = kLuma / 4;
  ASSERT_EQ(frame420.size(), kLuma + 2 * kChroma);
  ASSERT_EQ(frame444.size(), 3 * kLuma);

  double total = 0;
  int largest = 0;
  for (std::size_t p = 0; p < 2; ++p) {
    const Bytes plane(frame420.begin() + static_cast<std::ptrdiff_t>(kLuma + p * kChroma),
                      frame420.begin() + static_cast<std::ptrdiff_t>(kLuma + (p + 1) * kChroma));
    const Bytes ours = Upsample(plane, kWidth, kHeight, ChromaSampling::k420, ChromaSiting::kCenter);
    for (std::size_t i = 0; i < kLuma; ++i) {
      const int difference = std::abs(ours[i] - frame444[(p + 1) * kLuma + i]);
      total += difference;
      largest = std::max(largest, difference);
    }
  }
  const double mean = total / (2 * kLuma);
  std::cout << "Against ffmpeg: mean difference " << mean << ", largest " << largest << "\n";
  EXPECT_LE(mean, 0.01);
  EXPECT_LE(largest, 1);
}

}  // namespace
