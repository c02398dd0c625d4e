// The default compression measures: the thorough setting only where a
// sample shows it saves 10%. Sizes only; no timing.
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <utility>

#include "ToolTestSupport.h"
#include "commandline/CommandLine.h"
#include "formats/Formats.h"
#include "shared/Picture.h"

namespace {

using namespace tooltest;
namespace fs = std::filesystem;
using cstool::Picture;

// Like a blurred plasma: slow waves and a little noise.
Picture MakeSmooth(int width, int height) {
  Picture picture = Tool::MakeRandomPicture(width, height);
  picture.hasAlpha = false;
  std::mt19937 random(5);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* pixel =
          &picture
               .bgra[4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x))];
      for (int c = 0; c < 3; ++c) {
        const double wave = 127 + 90 * std::sin(x / (37.0 + 11 * c)) * std::cos(y / (53.0 - 7 * c));
        pixel[c] = static_cast<std::uint8_t>(wave + static_cast<int>(random() % 3 == 0 ? 1 : 0));
      }
      pixel[3] = 255;
    }
  }
  return picture;
}

// Flat panels, lines of small glyphs: what a screen shows.
Picture MakeScreenshot(int width, int height) {
  Picture picture = Tool::MakeRandomPicture(width, height);
  picture.hasAlpha = false;
  std::mt19937 random(9);
  std::vector<std::uint8_t> glyphs(std::size_t{64} * 8);
  for (auto& bit : glyphs) bit = random() % 3 == 0 ? 1 : 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* pixel =
          &picture
               .bgra[4 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x))];
      const bool sidebar = x < width / 5;
      const bool textLine = (y % 16) < 8 && x % 200 < 180;
      const std::size_t glyph = (static_cast<std::size_t>(x / 6) * 7 + static_cast<std::size_t>(y / 16) * 13) % 64;
      const bool ink = textLine && glyphs[glyph * 8 + static_cast<std::size_t>((y % 8 + x % 6) % 8)] != 0;
      const std::uint8_t base = sidebar ? 60 : 245;
      pixel[0] = ink ? 20 : base;
      pixel[1] = ink ? 20 : static_cast<std::uint8_t>(base - (sidebar ? 0 : 5));
      pixel[2] = ink ? 20 : static_cast<std::uint8_t>(base - (sidebar ? 20 : 10));
      pixel[3] = 255;
    }
  }
  return picture;
}

// The size libpng gives an RGB picture with its own defaults (level 6,
// adaptive filters).
std::uintmax_t LibpngDefaultSize(const std::string& path, const Picture& picture) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width), static_cast<png_uint_32>(picture.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<png_byte> row(static_cast<std::size_t>(picture.width) * 3);
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const std::uint8_t* pixel =
          &picture.bgra[4 * (static_cast<std::size_t>(y) * row.size() / 3 + static_cast<std::size_t>(x))];
      for (int c = 0; c < 3; ++c) row[static_cast<std::size_t>(x) * 3 + static_cast<std::size_t>(c)] = pixel[2 - c];
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
  return fs::file_size(path);
}

TEST_F(Tool, DefaultCompressionIsThoroughOnlyWhereItPays) {
  Write(Path("smooth.png"), MakeSmooth(768, 512));
  Write(Path("screen.png"), MakeScreenshot(960, 540));
  const auto size = [&](const std::string& name, const std::string& compression) {
    const std::string out = Path(name + "-" + compression + ".png");
    const ToolRun run =
        Colorspace("convert --to ycbcr --compression " + compression + " " + Path(name + ".png") + " " + out);
    EXPECT_EQ(run.status, 0) << run.err;
    return static_cast<double>(fs::file_size(out));
  };
  // The smooth picture: thorough saves little, so the default is fast.
  EXPECT_EQ(size("smooth", "default"), size("smooth", "fast"));
  // The screenshot: thorough pays, and comes within 5% of libpng's own
  // defaults on the same pixels.
  const double screen = size("screen", "default");
  EXPECT_LT(screen, 0.9 * size("screen", "fast"));
  const auto libpng = static_cast<double>(LibpngDefaultSize(Path("libpng.png"), Read(Path("screen-default.png"))));
  EXPECT_LE(screen, 1.05 * libpng);
  EXPECT_NE(OneLine(Colorspace("convert --help").out).find("saves at least 10%"), std::string::npos);
}

// One large file with --jobs is compressed in slices at once: the same
// pixels, one valid zlib stream (its Adler-32 checked by zlib), about the
// same size.
TEST_F(Tool, OneLargeFileIsCompressedInParallelSlices) {
  Write(Path("smooth.png"), MakeSmooth(1400, 1100));
  Write(Path("screen.png"), MakeScreenshot(1400, 1100));
  // Sub filters at level 1; the screenshot's default is the thorough
  // setting, with adaptive filters.
  for (const auto& [name, compression] : {std::pair{"smooth", "fast"}, std::pair{"screen", "default"}}) {
    const std::string one = Path(std::string("one-") + name + ".png");
    const std::string three = Path(std::string("three-") + name + ".png");
    const std::string common =
        std::string(" --to ycbcr --compression ") + compression + " " + Path(std::string(name) + ".png") + " ";
    ASSERT_EQ(Colorspace("convert --jobs 1" + common + one).status, 0);
    const ToolRun run = Colorspace("convert --jobs 3" + common + three);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read(three).bgra, Read(one).bgra) << name;
    EXPECT_EQ(cstool::ModelText(Read(three).record), "ycbcr");
    std::string idat;
    for (const Chunk& chunk : ParseChunks(Slurp(three))) {
      if (chunk.type == "IDAT") idat += chunk.data;
    }
    std::vector<unsigned char> raw(std::size_t{1100} * (1 + 1400 * 3) + 1);
    uLongf rawSize = raw.size();
    ASSERT_EQ(uncompress(raw.data(), &rawSize, reinterpret_cast<const Bytef*>(idat.data()), idat.size()), Z_OK);
    EXPECT_EQ(rawSize, std::size_t{1100} * (1 + 1400 * 3));
    EXPECT_LT(static_cast<double>(fs::file_size(three)), 1.02 * static_cast<double>(fs::file_size(one))) << name;
  }
}

}  // namespace
