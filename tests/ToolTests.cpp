// End-to-end runs of the colorspace tool on images it, or the test, makes.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "PngFile.h"

namespace {

namespace fs = std::filesystem;
using cstool::Picture;

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("colorspace-tool-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  ToolRun Colorspace(const std::string& arguments) const {
    const std::string out = Path("stdout.txt");
    const std::string err = Path("stderr.txt");
    const std::string command = std::string(COLORSPACE_TOOL) + " " + arguments + " >" + out + " 2>" + err;
    const int raw = std::system(command.c_str());
    ToolRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(out), Slurp(err)};
    fs::remove(out);
    fs::remove(err);
    return run;
  }

  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static Picture Read(const std::string& path) {
    Picture picture;
    EXPECT_TRUE(cstool::ReadPng(path, picture).ok) << path;
    return picture;
  }

  // Only the files a test made itself: no temporary file may be left over.
  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  Picture MakeRandomPicture(int width, int height) const {
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.bgra.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    std::mt19937 random(3);
    for (auto& b : picture.bgra) b = static_cast<std::uint8_t>(random());
    return picture;
  }

  fs::path dir_;
};

int MaxDifference(const Picture& a, const Picture& b, bool alpha) {
  int worst = 0;
  for (std::size_t i = 0; i < a.bgra.size(); ++i) {
    if (!alpha && i % 4 == 3) continue;
    worst = std::max(worst, std::abs(int{a.bgra[i]} - int{b.bgra[i]}));
  }
  return worst;
}

TEST_F(Tool, DemoWritesItsFilesAndTable) {
  const ToolRun run = Colorspace("demo " + Path("demo"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("fast (unmasked)"), std::string::npos);
  EXPECT_NE(run.out.find("exact (masked)"), std::string::npos);
  for (const char* name : {"chart.png", "chart-yuv-fast.png", "chart-ycbcr-exact-back.png", "planes-yuv.png"}) {
    EXPECT_TRUE(fs::exists(Path(std::string("demo/") + name))) << name;
  }
  const Picture planes = Read(Path("demo/planes-ycbcr.png"));
  const Picture chart = Read(Path("demo/chart.png"));
  EXPECT_EQ(planes.width, 3 * chart.width);
}

// Convert and back on both paths; alpha passes through, the model is
// recorded, so the way back needs no --from.
TEST_F(Tool, RoundTripsStayCloseAndKeepAlpha) {
  Picture original = MakeRandomPicture(61, 17);
  ASSERT_EQ(cstool::WritePng(Path("in.png"), original), "");
  const struct {
    const char* model;
    const char* path;
    int bound;
  } cases[] = {{"yuv", "", 3}, {"yuv", " --exact", 5}, {"ycbcr", "", 3}, {"ycbcr", " --exact", 5}};
  for (const auto& c : cases) {
    ToolRun run =
        Colorspace(std::string("convert --to ") + c.model + c.path + " " + Path("in.png") + " " + Path("mid.png"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read(Path("mid.png")).model, c.model);
    run = Colorspace(std::string("convert --to rgb") + c.path + " " + Path("mid.png") + " " + Path("back.png"));
    ASSERT_EQ(run.status, 0) << run.err;
    const Picture back = Read(Path("back.png"));
    EXPECT_EQ(back.model, "rgb");
    EXPECT_LE(MaxDifference(original, back, false), c.bound) << c.model << c.path;
    for (std::size_t i = 3; i < back.bgra.size(); i += 4) ASSERT_EQ(back.bgra[i], original.bgra[i]);
  }
}

TEST_F(Tool, MaskedConversionLeavesUnselectedPixelsAlone) {
  const Picture original = MakeRandomPicture(40, 10);
  Picture mask = MakeRandomPicture(40, 10);
  for (std::size_t i = 0; i < mask.bgra.size(); i += 4) {
    const std::uint8_t value = (i / 4) % 3 == 0 ? 200 : 0;
    mask.bgra[i] = mask.bgra[i + 1] = mask.bgra[i + 2] = value;
  }
  ASSERT_EQ(cstool::WritePng(Path("in.png"), original), "");
  ASSERT_EQ(cstool::WriteGreyPng(Path("mask.png"),
                                 [&] {
                                   cstool::GreyPicture grey{40, 10, {}};
                                   for (std::size_t i = 0; i < mask.bgra.size(); i += 4)
                                     grey.grey.push_back(mask.bgra[i]);
                                   return grey;
                                 }()),
            "");
  const ToolRun run =
      Colorspace("convert --to ycbcr --mask " + Path("mask.png") + " " + Path("in.png") + " " + Path("out.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  const Picture out = Read(Path("out.png"));
  int converted = 0;
  for (std::size_t p = 0; p < 400; ++p) {
    if (p % 3 == 0) {
      converted += std::memcmp(&out.bgra[4 * p], &original.bgra[4 * p], 3) != 0 ? 1 : 0;
    } else {
      ASSERT_EQ(std::memcmp(&out.bgra[4 * p], &original.bgra[4 * p], 4), 0) << p;
    }
  }
  EXPECT_GT(converted, 100);
}

TEST_F(Tool, PixelPrintsTheComponents) {
  ToolRun run = Colorspace("pixel --to yuv 255 0 0");
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("76 85 255"), std::string::npos) << run.out;
  run = Colorspace("pixel --to rgb --from ycbcr '#80FFFF'");
  EXPECT_NE(run.out.find("255 0 255"), std::string::npos) << run.out;
  EXPECT_NE(Colorspace("pixel --to yuv 256 0 0").status, 0);
  EXPECT_EQ(Colorspace("--help").status, 0);
  EXPECT_NE(Colorspace("--version").out.find("colorspace "), std::string::npos);
}

// Writes a 16-bit RGB PNG, a palette PNG or a 4-bit grey PNG with libpng.
void WriteUnusualPng(const std::string& path, int kind) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, file);
  const int width = 4;
  const int depth = kind == 0 ? 16 : (kind == 1 ? 8 : 4);
  const int type = kind == 0 ? PNG_COLOR_TYPE_RGB : (kind == 1 ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_GRAY);
  png_set_IHDR(png, info, width, 1, depth, type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_color palette[2] = {{10, 20, 30}, {200, 100, 50}};
  if (kind == 1) png_set_PLTE(png, info, palette, 2);
  png_write_info(png, info);
  std::uint8_t row[24] = {};
  if (kind == 0) {
    for (std::size_t i = 0; i < 12; ++i) row[2 * i] = static_cast<std::uint8_t>(20 * i);  // high bytes
  } else if (kind == 1) {
    row[0] = 0;
    row[1] = 1;
  } else {
    row[0] = 0xF0;  // grey 15 then 0, in 4 bits
  }
  png_write_row(png, row);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

TEST_F(Tool, UnusualPngsAreExpandedOrReduced) {
  WriteUnusualPng(Path("deep.png"), 0);
  WriteUnusualPng(Path("palette.png"), 1);
  WriteUnusualPng(Path("grey.png"), 2);
  ToolRun run = Colorspace("convert --to yuv " + Path("deep.png") + " " + Path("deep-yuv.png"));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("16-bit"), std::string::npos) << run.err;
  Picture picture = Read(Path("deep.png"));
  EXPECT_EQ(picture.bgra[2], 0);   // R of pixel 0: high byte 0
  EXPECT_EQ(picture.bgra[6], 60);  // R of pixel 1: high byte 60
  picture = Read(Path("palette.png"));
  EXPECT_EQ(picture.bgra[4 + 2], 200);
  EXPECT_EQ(picture.bgra[4 + 3], 255);
  picture = Read(Path("grey.png"));
  EXPECT_EQ(picture.bgra[0], 255);
  EXPECT_EQ(picture.bgra[2], 255);
  EXPECT_EQ(picture.bgra[4], 0);
}

// Every bad input: one line on stderr, non-zero status, no output file (and
// no temporary one), an existing output untouched.
TEST_F(Tool, BadInputsFailCleanly) {
  const Picture good = MakeRandomPicture(8, 8);
  ASSERT_EQ(cstool::WritePng(Path("good.png"), good), "");
  ASSERT_EQ(cstool::WritePng(Path("small.png"), MakeRandomPicture(4, 4)), "");
  std::ofstream(Path("text.png")) << "not a picture\n";
  {
    const std::string whole = Slurp(Path("good.png"));
    std::ofstream(Path("truncated.png"), std::ios::binary) << whole.substr(0, whole.size() / 2);
  }
  ASSERT_EQ(Colorspace("convert --to yuv " + Path("good.png") + " " + Path("good-yuv.png")).status, 0);
  std::ofstream(Path("existing.png")) << "keep me";

  const std::string cases[] = {
      "convert --to yuv " + Path("missing.png") + " OUT",
      "convert --to yuv " + Path("text.png") + " OUT",
      "convert --to yuv " + Path("truncated.png") + " OUT",
      "convert --to lab " + Path("good.png") + " OUT",
      "convert --to yuv --mask " + Path("small.png") + " " + Path("good.png") + " OUT",
      "convert --to rgb --from ycbcr " + Path("good-yuv.png") + " OUT",
      "convert --to yuv " + Path("good-yuv.png") + " OUT",
      "convert --to yuv --bogus " + Path("good.png") + " OUT",
      "planes --model rgb " + Path("good.png") + " OUT",
  };
  const std::vector<std::string> before = Files();
  for (const std::string& arguments : cases) {
    for (const char* output : {"new.png", "existing.png"}) {
      std::string command = arguments;
      command.replace(command.find("OUT"), 3, Path(output));
      const ToolRun run = Colorspace(command);
      EXPECT_NE(run.status, 0) << command;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << command << ": " << run.err;
      EXPECT_EQ(run.err.rfind("colorspace: ", 0), 0U) << run.err;
      EXPECT_EQ(Files(), before) << command;
      EXPECT_EQ(Slurp(Path("existing.png")), "keep me") << command;
    }
  }
}

TEST_F(Tool, SeveralInputsIntoADirectory) {
  ASSERT_EQ(cstool::WritePng(Path("a.png"), MakeRandomPicture(5, 3)), "");
  ASSERT_EQ(cstool::WritePng(Path("b.png"), MakeRandomPicture(7, 2)), "");
  fs::create_directories(Path("out"));
  const ToolRun run =
      Colorspace("convert --to ycbcr --out-dir " + Path("out") + " " + Path("a.png") + " " + Path("b.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "") << "no progress line when stderr is not a terminal";
  EXPECT_EQ(Read(Path("out/a.png")).model, "ycbcr");
  EXPECT_EQ(Read(Path("out/b.png")).width, 7);
}

}  // namespace
